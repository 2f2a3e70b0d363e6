// RegisterTypeLib and UnRegisterTypeLib on the machine's registry.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "sample_library_test.h"
#include "sky/machine.h"
#include "sky/text.h"
#include "win/registry.h"

namespace sky::typelib {
namespace {

using namespace sky::typelib::testing;

// Every key and value below a root, as "path|name" -> "type:data".
using Dump = std::map<std::u16string, std::u16string>;

void dumpKey(HKEY key, const std::u16string& path, Dump& out) {
    out[path + u"\\"] = u"";
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[4096];
        DWORD size = sizeof data;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        out[path + u"|" + std::u16string(name, nameLength)] =
            sky::widen(std::to_string(type)) + u":" +
            std::u16string(reinterpret_cast<const char16_t*>(data), size / 2);
    }
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY child = nullptr;
        std::u16string childName(name, length);
        ASSERT_EQ(RegOpenKeyExW(key, childName.c_str(), 0, KEY_READ, &child), ERROR_SUCCESS);
        dumpKey(child, path + u"\\" + childName, out);
        RegCloseKey(child);
    }
}

Dump dumpMachine() {
    Dump out;
    dumpKey(HKEY_LOCAL_MACHINE, u"HKLM", out);
    return out;
}

std::u16string valueOf(HKEY root, const std::u16string& path, const char16_t* name = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return u"(no key)";
    WCHAR data[1024];
    DWORD size = sizeof data, type = 0;
    LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return u"(no value)";
    return std::u16string(data, size / 2 - 1);
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        // Something already registered that must survive: another library's entries.
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\TypeLib\\{OTHER}\\1.0",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        std::filesystem::create_directories(machine::driveC() / "Lib");
        std::vector<unsigned char> image = serialize(sample());
        std::ofstream(machine::driveC() / "Lib" / "sample.tlb", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        ASSERT_EQ(LoadTypeLib(u"C:\\Lib\\sample.tlb", &lib), S_OK);
    }
    void TearDown() override { lib->Release(); }

    ITypeLib* lib = nullptr;
    const std::u16string libKey = u"TypeLib\\{12345678-1111-2222-0102-030405060708}";
    const std::u16string itfKey = u"Interface\\{12345678-1111-2222-0102-030405060709}";
};

TEST_F(Registration, WritesTheLibraryAndInterfaceKeys) {
    ASSERT_EQ(RegisterTypeLib(lib, u"C:\\Lib\\sample.tlb", nullptr), S_OK);
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2"), u"Sample library");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2\\409\\win32"), u"C:\\Lib\\sample.tlb");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2\\FLAGS"), u"0");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2\\HELPDIR"), u"C:\\Lib");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, itfKey), u"IPainter");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, itfKey + u"\\ProxyStubClsid"),
              u"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, itfKey + u"\\ProxyStubClsid32"),
              u"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, itfKey + u"\\TypeLib"),
              u"{12345678-1111-2222-0102-030405060708}");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, itfKey + u"\\TypeLib", u"Version"), u"3.2");
    // Classes and enumerations get no Interface key.
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, u"Interface\\{12345678-1111-2222-0102-03040506070A}"),
              u"(no key)");

    ASSERT_EQ(RegisterTypeLib(lib, u"C:\\Lib\\sample.tlb", u"C:\\Help"), S_OK);
    EXPECT_EQ(valueOf(HKEY_LOCAL_MACHINE, u"Software\\Classes\\" + libKey + u"\\3.2\\HELPDIR"),
              u"C:\\Help");
}

TEST_F(Registration, UnregisteringLeavesTheRegistryAsItWas) {
    Dump before = dumpMachine();
    ASSERT_EQ(RegisterTypeLib(lib, u"C:\\Lib\\sample.tlb", nullptr), S_OK);
    EXPECT_NE(dumpMachine(), before);
    ASSERT_EQ(UnRegisterTypeLib(kLib, 3, 2, 0x409, SYS_WIN32), S_OK);
    EXPECT_EQ(dumpMachine(), before);
}

TEST_F(Registration, UnregisteringAnotherLocaleOrVersionRemovesNothing) {
    ASSERT_EQ(RegisterTypeLib(lib, u"C:\\Lib\\sample.tlb", nullptr), S_OK);
    Dump registered = dumpMachine();
    EXPECT_EQ(UnRegisterTypeLib(kLib, 3, 2, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(UnRegisterTypeLib(kLib, 3, 1, 0x409, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(dumpMachine(), registered);
}

TEST_F(Registration, KeepsOtherVersionsAndInterfacesOfOtherLibraries) {
    ASSERT_EQ(RegisterTypeLib(lib, u"C:\\Lib\\sample.tlb", nullptr), S_OK);
    // Version 1.0 of the same library, still registered.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (libKey + u"\\1.0\\0\\win32").c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // The interface now belongs to another library: not ours to remove.
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (itfKey + u"\\TypeLib").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string other = u"{OTHER}";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * 2));
    RegCloseKey(key);

    ASSERT_EQ(UnRegisterTypeLib(kLib, 3, 2, 0x409, SYS_WIN32), S_OK);
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2"), u"(no key)");
    EXPECT_NE(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\1.0\\0\\win32"), u"(no key)");
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, itfKey), u"IPainter");
}

TEST_F(Registration, LoadTypeLibExRegistersOnRequest) {
    ITypeLib* again = nullptr;
    ASSERT_EQ(LoadTypeLibEx(u"C:\\Lib\\sample.tlb", REGKIND_NONE, &again), S_OK);
    again->Release();
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2"), u"(no key)");
    ASSERT_EQ(LoadTypeLibEx(u"C:\\Lib\\sample.tlb", REGKIND_REGISTER, &again), S_OK);
    again->Release();
    EXPECT_EQ(valueOf(HKEY_CLASSES_ROOT, libKey + u"\\3.2\\409\\win32"), u"C:\\Lib\\sample.tlb");
}

} // namespace
} // namespace sky::typelib
