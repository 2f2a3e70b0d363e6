// Shared by the module's tests: a farm written to the test's machine, the built module registered
// there, and the objects created the way every program creates them (CoCreateInstance by
// programmatic identifier).
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "SkyloomCOM.h"
#include "qvcomsrv/store/farm_store.h"
#include "sky/automation.h"

namespace qvcomsrv::testing {

// Zones East (collector ALPHA) and West (GAMMA); servers ALPHA, BETA (East) and GAMMA (West);
// folders Office and Office/Tools; the current user as administrator; applications
//   Applications/Notepad         on ALPHA and BETA, a user, a group and an icon of its own,
//   Applications/Office/Word     on ALPHA, no icon of its own,
//   Applications/Intranet        published content (kind 4) on GAMMA.
sky::farm::FarmImage sampleFarm();

// Writes `image` into a new store on the test's machine and makes it the machine's farm.
void installFarm(const sky::farm::FarmImage& image, bool reportsSessionReliability = true);

// The machine's farm store, opened directly, to see what the module saved.
std::unique_ptr<sky::farm::FarmStore> servedStore();

// The built qvcomsrv.dll, by its Windows path.
std::u16string modulePath();
// Loads the built module and registers it in-process on the test's machine (DllRegisterServer).
void registerModule();

// A one-colour icon, and an icon file holding the images of several.
sky::farm::Bytes colourIcon(std::uint32_t argb);
sky::farm::Bytes iconFile(std::initializer_list<std::uint32_t> colours);

// A file on the test's drive C: its Windows path and its host path.
std::u16string windowsPathOnC(std::string_view name);
std::filesystem::path hostPathOnC(std::string_view name);

inline sky::Bstr bstr(std::string_view utf8) {
    return sky::Bstr::fromUtf8(utf8);
}

// The description that a failed call left in the thread's error information.
std::string failureText();

// The machine has the sample farm and the registered module; the test thread is in a
// single-threaded apartment, as the administration tool's is.
class ObjectModelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Step 1 of every operation: a fresh farm object, initialized.
    sky::ComPtr<ISkyloomFarm6> openFarm();
    // An existing application, initialized and loaded.
    sky::ComPtr<ISkyloomApplication5> openApplication(std::string_view dn);
    // A binding of `server` for `dn` (empty: whichever application it is given to).
    sky::ComPtr<ISkyloomAppSrvBinding2> binding(std::string_view server, std::string_view dn = "");

    // Applications, users and groups as a second program would see them now.
    sky::farm::Application stored(std::string_view dn);
    bool exists(std::string_view dn);
};

} // namespace qvcomsrv::testing
