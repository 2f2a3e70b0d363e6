// What qvcom's tests share: laying qvcom into the test's machine as the installer would, running
// it as a real process, and the machine's profile.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "sky/machine.h"
#include "sky/process.h"
#include "sky/services.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/process.h"
#include "win/registry.h"
#include "win/synch.h"

namespace qvcom_test {

namespace fs = std::filesystem;

inline const char16_t installKey[] =
    u"SOFTWARE\\Vantor\\Install\\{C05CE041-63DB-4467-B777-9FCB30013CA2}";

inline fs::path system32() {
    return sky::machine::driveC() / "WINDOWS" / "System32";
}

inline void setText(HKEY root, const std::u16string& key, const char16_t* name,
                    const std::u16string& value, DWORD type = REG_SZ) {
    HKEY h = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
    RegCloseKey(h);
}

// The installer's key with its Windows folder.
inline void writeInstallKey(const std::u16string& windowsFolder = u"C:\\WINDOWS\\") {
    setText(HKEY_LOCAL_MACHINE, installKey, u"WindowsFolder", windowsFolder);
}

// Removes the installer's key, as on a machine the installer never ran on.
inline void removeInstallKey() {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vantor\\Install", 0, KEY_ALL_ACCESS, &key),
        ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteKeyW(key, u"{C05CE041-63DB-4467-B777-9FCB30013CA2}"), ERROR_SUCCESS);
    RegCloseKey(key);
}

// The machine's operating system as the version check reads it.
inline void setProfile(const std::u16string& version, const std::u16string& build,
                       const std::u16string* servicePack) {
    const std::u16string key = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
    setText(HKEY_LOCAL_MACHINE, key, u"CurrentVersion", version);
    setText(HKEY_LOCAL_MACHINE, key, u"CurrentBuildNumber", build);
    if (servicePack)
        setText(HKEY_LOCAL_MACHINE, key, u"CSDVersion", *servicePack);
}

// qvcom.exe in C:\WINDOWS\System32 with its message module in the given resource folders
// ("en-US", "en", ...).
inline void installQvcom(std::initializer_list<const char*> languages = {"en-US", "en"}) {
    const fs::path bin = sky::testing::buildBin();
    fs::create_directories(system32());
    fs::copy_file(bin / "qvcom", system32() / "qvcom.exe", fs::copy_options::overwrite_existing);
    for (const char* language : languages) {
        fs::create_directories(system32() / "resource" / language);
        fs::copy_file(bin / "resource" / "en" / "qvcomUI.dll",
                      system32() / "resource" / language / "qvcomUI.dll",
                      fs::copy_options::overwrite_existing);
    }
}

// A module of build/bin/testmodules (or build/bin) as C:\WINDOWS\System32\qvcomsrv.dll.
inline void installObjectModel(const fs::path& module) {
    fs::create_directories(system32());
    fs::copy_file(module, system32() / "qvcomsrv.dll", fs::copy_options::overwrite_existing);
}

// A machine with the installer's key and qvcom laid in; whatever a test starts is shut down.
class InstalledMachine : public ::testing::Test {
protected:
    void SetUp() override {
        writeInstallKey();
        installQvcom();
    }
    void TearDown() override {
        EXPECT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    }
};

struct Outcome {
    DWORD exitCode = 0;
    std::string boxes; // what the message boxes showed (caption and text, on standard error)
};

// Runs C:\WINDOWS\System32\qvcom.exe (or another copy of the program) with a command line,
// reading its full exit code as a parent on the platform does and its message boxes from its
// standard error.
inline Outcome runQvcom(const std::u16string& arguments,
                        const std::u16string& program = u"C:\\WINDOWS\\System32\\qvcom.exe") {
    static std::mutex stderrMutex;
    std::lock_guard lock(stderrMutex);
    Outcome outcome;
    FILE* capture = std::tmpfile();
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(fileno(capture), 2);
    sky::ProcessLaunch launch;
    launch.applicationName = program;
    launch.commandLine = program + (arguments.empty() ? u"" : u" " + arguments);
    PROCESS_INFORMATION info{};
    const BOOL started = sky::launchProcess(launch, info);
    dup2(saved, 2);
    close(saved);
    EXPECT_TRUE(started);
    if (started) {
        WaitForSingleObject(info.hProcess, INFINITE);
        GetExitCodeProcess(info.hProcess, &outcome.exitCode);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    std::rewind(capture);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, capture)) > 0;)
        outcome.boxes.append(buffer, n);
    std::fclose(capture);
    return outcome;
}

} // namespace qvcom_test
