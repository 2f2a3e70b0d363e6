// What the fuzz targets of the definition file and server snapshot readers share: a machine of
// their own (a temporary folder), the object model module registered on it, a served farm that an
// input may change and that is put back as it was every few inputs, and the input as a file of the
// machine. The readers run against the real object model and farm store, as BraskAdmin runs them.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <windows.h>

#include "core/feedback.h"
#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/machine.h"
#include "sky/text.h"

namespace brask::fuzzing {

namespace fs = std::filesystem;

// Feedback nobody reads; an error report is the reader's normal answer to bad input.
class QuietFeedback final : public Feedback {
public:
    void progress(float) override {}
    void progressDone() override {}
    void status(std::u16string_view) override {}
    void reportError(std::int32_t, std::u16string_view) override {}
    void notice(std::u16string_view, std::u16string_view) override {}
};

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

// The user running the target, as the farm's administrator.
inline std::string currentUser() {
    WCHAR name[257];
    DWORD size = 257;
    return GetUserNameW(name, &size) ? sky::narrow(name) : std::string();
}

// The folder of the built programs and modules: SKY_BUILD_BIN when the tests set it, else the
// "bin" folder beside the folder of this program (build-fuzz/fuzz/x finds build-fuzz/bin).
inline fs::path buildBin() {
    if (const char* bin = std::getenv("SKY_BUILD_BIN"))
        return bin;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return self.parent_path().parent_path() / "bin";
}

// A farm named `name` with the user as administrator, servers SRV1 and SRV2 in one zone, the
// folder Applications/Office and nothing published.
inline sky::farm::FarmImage smallFarm(const std::string& name) {
    sky::farm::FarmImage image;
    image.farm.name = name;
    image.administrators = {currentUser()};
    image.zones = {{"Main", "SRV1"}};
    image.servers = {{"SRV1", "Main", 5, 2}, {"SRV2", "Main", 6, 1}};
    image.folders = {"Applications/Office"};
    return image;
}

class FuzzMachine {
public:
    // Every `period` inputs the farm is put back to `farm`.
    FuzzMachine(sky::farm::FarmImage farm, int period) : farm_(std::move(farm)), period_(period) {
        std::string pattern = (fs::temp_directory_path() / "skyloom-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            fail("cannot create a temporary machine directory");
        root_ = pattern;
        setenv("SKYLOOM_MACHINE", root_.c_str(), 1);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        registerObjectModel();
        const sky::farm::StoreLocation location = sky::farm::farmStoreOnMachine(farm_.farm.name);
        auto store = sky::farm::createFarmStore(location, farm_);
        if (!store)
            fail("cannot create the farm: " + store.status().message());
        if (!sky::farm::setMachineFarmStore(location))
            fail("cannot serve the farm");
        // An icon the inputs' "Icon=" lines can name: C:\work\icons\app.ico.
        const fs::path work = sky::machine::driveC() / "work";
        fs::create_directories(work / "icons");
        const sky::farm::Bytes icon = sky::farm::encodeIcon(sky::farm::IconPicture{});
        std::ofstream(work / "icons" / "app.ico", std::ios::binary)
            .write(reinterpret_cast<const char*>(icon.data()),
                   static_cast<std::streamsize>(icon.size()));
        input_ = work / "input.txt";
        inputName_ = sky::machine::toWindowsPath(input_);
    }
    ~FuzzMachine() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    FuzzMachine(const FuzzMachine&) = delete;
    FuzzMachine& operator=(const FuzzMachine&) = delete;

    // Writes the input into the machine's input file; its Windows path.
    const std::u16string& write(const std::uint8_t* data, std::size_t size) {
        std::ofstream out(input_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out.flush())
            fail("cannot write the input file");
        return inputName_;
    }

    // After a reader ran: the farm store must still read back whole, whatever the input was;
    // every `period` inputs the farm is put back.
    void afterInput() {
        auto store = sky::farm::openMachineFarmStore();
        if (!store)
            fail("the farm store cannot be opened after the input: " + store.status().message());
        auto image = (*store)->image();
        if (!image)
            fail("the farm store cannot be read after the input: " + image.status().message());
        if (++inputs_ % period_ == 0) {
            if (!(*store)->replace(farm_))
                fail("cannot put the farm back");
        }
    }

    const fs::path& root() const { return root_; }

private:
    void registerObjectModel() {
        const std::u16string module = sky::machine::toWindowsPath(buildBin() / "qvcomsrv.dll");
        const HMODULE loaded = LoadLibraryW(module.c_str());
        if (!loaded)
            fail(sky::narrow(module) + ": cannot load the object model module");
        using RegisterServer = HRESULT (*)();
        const auto registerServer = reinterpret_cast<RegisterServer>(
            reinterpret_cast<void (*)()>(GetProcAddress(loaded, "DllRegisterServer")));
        if (!registerServer || registerServer() != S_OK)
            fail("the object model module does not register");
    }

    sky::farm::FarmImage farm_;
    int period_;
    fs::path root_;
    fs::path input_;
    std::u16string inputName_;
    int inputs_ = 0;
};

} // namespace brask::fuzzing
