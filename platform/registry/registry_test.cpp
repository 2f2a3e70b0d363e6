// The Win32 contract of the registry functions: names, roots, buffers, rights, handles.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

using sky::registry::Key;

namespace {

Key createKey(HKEY root, const char16_t* path, REGSAM rights = KEY_ALL_ACCESS,
              DWORD* disposition = nullptr) {
    Key key;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, rights, nullptr, key.put(), disposition),
              ERROR_SUCCESS)
        << sky::narrow(path);
    return key;
}

LONG openKey(HKEY root, const char16_t* path, REGSAM rights, Key& key) {
    return RegOpenKeyExW(root, path, 0, rights, key.put());
}

LONG setString(HKEY key, const char16_t* name, std::u16string_view text, DWORD type = REG_SZ) {
    const std::u16string data(text);
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
}

LONG setDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

std::optional<std::u16string> queryString(HKEY key, const char16_t* name) {
    WCHAR buffer[256] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return std::u16string(buffer);
}

std::vector<std::u16string> subKeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD count = 256;
        if (RegEnumKeyExW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.emplace_back(name, count);
    }
}

std::vector<std::u16string> valueNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD count = 256;
        if (RegEnumValueW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.emplace_back(name, count);
    }
}

} // namespace

TEST(Registry, NamesIgnoreCaseAndKeepTheirCase) {
    Key created = createKey(HKEY_LOCAL_MACHINE, u"Software\\MixedCase\\Inner");
    ASSERT_EQ(setString(created.get(), u"ValueName", u"first"), ERROR_SUCCESS);

    Key opened;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\mixedcase\\INNER", KEY_ALL_ACCESS, opened),
              ERROR_SUCCESS);
    EXPECT_EQ(queryString(opened.get(), u"VALUENAME"), u"first");
    // Writing under another case replaces the value and keeps its first name.
    ASSERT_EQ(setString(opened.get(), u"valuename", u"second"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(opened.get()), std::vector<std::u16string>{u"ValueName"});
    EXPECT_EQ(queryString(created.get(), u"ValueName"), u"second");

    Key parent;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"software\\MIXEDCASE", KEY_READ, parent), ERROR_SUCCESS);
    EXPECT_EQ(subKeys(parent.get()), std::vector<std::u16string>{u"Inner"});
    // Creating under another case opens the same key.
    DWORD disposition = 0;
    createKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\MIXEDCASE\\inner", KEY_READ, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    // Latin-1 letters fold too.
    createKey(HKEY_LOCAL_MACHINE, u"Software\\\u00c9t\u00e9");
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"software\\\u00e9T\u00c9", KEY_READ, opened),
              ERROR_SUCCESS);
}

TEST(Registry, GreekCyrillicAndAccentedNamesIgnoreCase) {
    // Keys: Greek, Cyrillic, Latin beyond Latin-1; one key each, found under any case.
    for (const auto& [written, asked] :
         {std::pair<const char16_t*, const char16_t*>{u"Software\\\u03a9mega",
                                                      u"SOFTWARE\\\u03c9MEGA"},
          {u"Software\\\u041c\u043e\u0441\u043a\u0432\u0430",
           u"software\\\u043c\u041e\u0421\u041a\u0412\u0410"},
          {u"Software\\\u010ce\u0161tina", u"Software\\\u010dE\u0160TINA"}}) {
        createKey(HKEY_LOCAL_MACHINE, written);
        Key opened;
        EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, asked, KEY_READ, opened), ERROR_SUCCESS)
            << sky::narrow(asked);
        DWORD disposition = 0;
        createKey(HKEY_LOCAL_MACHINE, asked, KEY_READ, &disposition);
        EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY)) << sky::narrow(asked);
    }
    // Values: one value under two spellings, and names that differ in an accent stay apart.
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Names");
    ASSERT_EQ(setString(key.get(), u"\u03a3\u03b5\u03c1\u03b2\u03b5\u03c1", u"first"),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(key.get(), u"\u03c3\u0395\u03a1\u0392\u0395\u03a1", u"second"),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(key.get(), u"\u03c3\u03ad\u03c1\u03b2\u03b5\u03c1", u"accented"),
              ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key.get()),
              (std::vector<std::u16string>{u"\u03a3\u03b5\u03c1\u03b2\u03b5\u03c1",
                                           u"\u03c3\u03ad\u03c1\u03b2\u03b5\u03c1"}));
    EXPECT_EQ(queryString(key.get(), u"\u03a3\u0395\u03a1\u0392\u0395\u03a1"), u"second");
    EXPECT_EQ(RegDeleteValueW(key.get(), u"\u03c3\u03b5\u03c1\u03b2\u03b5\u03c1"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key.get()),
              std::vector<std::u16string>{u"\u03c3\u03ad\u03c1\u03b2\u03b5\u03c1"});
    // Sharp s has no one-letter capital: "STRASSE" is another name.
    ASSERT_EQ(setString(key.get(), u"Stra\u00dfe", u"road"), ERROR_SUCCESS);
    EXPECT_EQ(queryString(key.get(), u"STRA\u00dfE"), u"road");
    EXPECT_EQ(queryString(key.get(), u"STRASSE"), std::nullopt);
}

TEST(Registry, CreateReportsWhetherTheKeyIsNew) {
    DWORD disposition = 0;
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\Install\\Deep", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\Install\\Deep\\", KEY_ALL_ACCESS,
              &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    // The keys on the way were created as well.
    Key middle;
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\Install", KEY_READ, middle),
              ERROR_SUCCESS);

    Key bad;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\X", 0, nullptr, 0, KEY_READ,
                              nullptr, bad.put(), nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\\\X", 0, nullptr, 0, KEY_READ,
                              nullptr, bad.put(), nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_FALSE(bad);
}

TEST(Registry, ClassesRootIsTheMachinesSoftwareClasses) {
    Key viaView = createKey(HKEY_CLASSES_ROOT, u"SkyloomCOM.SkyloomFarm\\CLSID");
    ASSERT_EQ(setString(viaView.get(), nullptr, u"{ED62F4E2-63C2-11D4-94D8-00C04FB0F326}"),
              ERROR_SUCCESS);
    Key viaMachine;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\SkyloomCOM.SkyloomFarm\\CLSID",
                      KEY_READ, viaMachine),
              ERROR_SUCCESS);
    EXPECT_EQ(queryString(viaMachine.get(), u""), u"{ED62F4E2-63C2-11D4-94D8-00C04FB0F326}");

    createKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.txt");
    Key txt;
    EXPECT_EQ(openKey(HKEY_CLASSES_ROOT, u".TXT", KEY_READ, txt), ERROR_SUCCESS);
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, u"SkyloomCOM.SkyloomFarm"), ERROR_SUCCESS);
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\SkyloomCOM.SkyloomFarm", KEY_READ,
                      viaMachine),
              ERROR_FILE_NOT_FOUND);
}

TEST(Registry, CurrentUserLivesUnderUsers) {
    Key mine = createKey(HKEY_CURRENT_USER, u"Control Panel\\International");
    ASSERT_EQ(setString(mine.get(), u"Locale", u"00000407"), ERROR_SUCCESS);
    const std::u16string path = sky::registry::currentUser() + u"\\Control Panel\\International";
    Key viaUsers;
    ASSERT_EQ(openKey(HKEY_USERS, path.c_str(), KEY_READ, viaUsers), ERROR_SUCCESS);
    EXPECT_EQ(queryString(viaUsers.get(), u"Locale"), u"00000407");
}

TEST(Registry, NewMachineHasTheStandardKeys) {
    for (const char16_t* path :
         {u"Software\\Classes\\AppID", u"Software\\Classes\\TypeLib", u"Software\\Classes\\CLSID",
          u"Software\\Classes\\Interface", u"Software\\Microsoft\\Windows NT\\CurrentVersion",
          u"System\\CurrentControlSet\\Services", u"Software\\Microsoft\\OLE"}) {
        Key key;
        EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, path, KEY_READ, key), ERROR_SUCCESS)
            << sky::narrow(path);
    }
    // And the version values every installed machine has (the version GetVersionExW reports).
    Key version;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                      KEY_READ, version),
              ERROR_SUCCESS);
    EXPECT_EQ(queryString(version.get(), u"CurrentVersion"), u"5.2");
    EXPECT_EQ(queryString(version.get(), u"CurrentBuildNumber"), u"3790");
    EXPECT_EQ(queryString(version.get(), u"CSDVersion"), u"Service Pack 2");
}

TEST(Registry, MissingKeysAndValuesAreNotFound) {
    Key key;
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Nowhere", KEY_READ, key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key);
    Key existing = createKey(HKEY_LOCAL_MACHINE, u"Software\\Here");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(existing.get(), u"Absent", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(existing.get(), nullptr, nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(existing.get(), u"Absent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Nowhere"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Nowhere"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, QueryFollowsTheBufferRules) {
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Buffers");
    // Five characters given without their terminator are kept as given: ten bytes.
    const std::u16string text = u"Hello";
    ASSERT_EQ(RegSetValueExW(key.get(), u"Text", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.data()), 10),
              ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key.get(), u"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 10u);

    WCHAR buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    size = 9;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"Text", nullptr, &type, reinterpret_cast<LPBYTE>(buffer),
                               &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer[0], u'#') << "a short buffer is left alone";

    // Exactly the data's size: the text without a terminator, as stored.
    size = 10;
    ASSERT_EQ(RegQueryValueExW(key.get(), u"Text", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::u16string(buffer, 6), u"Hello#");
    // With room for one, a terminator follows it, not counted.
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key.get(), u"Text", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::u16string(buffer), u"Hello");

    // A list keeps what it was given too.
    const char16_t list[] = u"one\0two";
    ASSERT_EQ(RegSetValueExW(key.get(), u"List", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(list), 16),
              ERROR_SUCCESS);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key.get(), u"List", nullptr, &type, reinterpret_cast<LPBYTE>(buffer),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(std::u16string(buffer, size / 2), std::u16string(u"one\0two", 8));

    const DWORD number = 600000;
    ASSERT_EQ(setDword(key.get(), u"Number", number), ERROR_SUCCESS);
    DWORD read = 0;
    size = sizeof read;
    ASSERT_EQ(RegQueryValueExW(key.get(), u"Number", nullptr, &type,
                               reinterpret_cast<LPBYTE>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, number);
    EXPECT_EQ(RegSetValueExW(key.get(), u"Number", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), 3),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key.get(), u"Bad", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    // An empty binary value is a value all the same.
    ASSERT_EQ(RegSetValueExW(key.get(), u"Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    size = 99;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"Empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, REG_BINARY);
}

TEST(Registry, DefaultValueHasNoName) {
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Default");
    ASSERT_EQ(setString(key.get(), nullptr, u"by null"), ERROR_SUCCESS);
    EXPECT_EQ(queryString(key.get(), u""), u"by null");
    ASSERT_EQ(setString(key.get(), u"", u"by empty"), ERROR_SUCCESS);
    EXPECT_EQ(queryString(key.get(), nullptr), u"by empty");
    EXPECT_EQ(valueNames(key.get()), std::vector<std::u16string>{u""});
    EXPECT_EQ(RegDeleteValueW(key.get(), nullptr), ERROR_SUCCESS);
    EXPECT_EQ(queryString(key.get(), nullptr), std::nullopt);
}

TEST(Registry, EnumerationIsStableAndIndexed) {
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Enum");
    for (const char16_t* name : {u"beta", u"Alpha", u"GAMMA"})
        createKey(key.get(), name);
    for (const char16_t* name : {u"Zeta", u"eta", u"Theta"})
        ASSERT_EQ(setString(key.get(), name, name), ERROR_SUCCESS);

    // Subkeys in name order ignoring case, values in the order they were first written.
    EXPECT_EQ(subKeys(key.get()), (std::vector<std::u16string>{u"Alpha", u"beta", u"GAMMA"}));
    ASSERT_EQ(setString(key.get(), u"zeta", u"rewritten"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key.get()), (std::vector<std::u16string>{u"Zeta", u"eta", u"Theta"}));

    WCHAR name[8];
    DWORD count = 5; // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(count, 5u);
    count = 6;
    EXPECT_EQ(RegEnumKeyExW(key.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(RegEnumKeyExW(key.get(), 3, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    BYTE data[4];
    DWORD size = sizeof data;
    DWORD type = 0;
    count = 8;
    EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &count, nullptr, &type, data, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 20u); // "rewritten" and its terminator
    EXPECT_EQ(RegEnumValueW(key.get(), 3, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD subKeyCount = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeyCount, &maxSubKey,
                               nullptr, &values, &maxValueName, &maxValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeyCount, 3u);
    EXPECT_EQ(maxSubKey, 5u);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(maxValueName, 5u);
    EXPECT_EQ(maxValue, 20u);
}

TEST(Registry, StringsAreStoredWithExactlyTheBytesGiven) {
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Exact");
    for (const DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
        SCOPED_TRACE(type);
        // Six bytes of "abc" without a terminator stay six; a reader with room gets one after.
        ASSERT_EQ(
            RegSetValueExW(key.get(), u"abc", 0, type, reinterpret_cast<const BYTE*>(u"abc"), 6),
            ERROR_SUCCESS);
        DWORD size = 0;
        DWORD read = 0;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"abc", nullptr, &read, nullptr, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(read, type);
        EXPECT_EQ(size, 6u);
        BYTE bytes[12];
        std::fill(std::begin(bytes), std::end(bytes), BYTE{0xCC});
        size = 6;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"abc", nullptr, nullptr, bytes, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 8),
                  (std::vector<BYTE>{'a', 0, 'b', 0, 'c', 0, 0xCC, 0xCC}));
        size = 7; // one byte is no room for a terminator
        ASSERT_EQ(RegQueryValueExW(key.get(), u"abc", nullptr, nullptr, bytes, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 6u);
        EXPECT_EQ(bytes[6], 0xCC);
        size = 8;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"abc", nullptr, nullptr, bytes, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 6u);
        EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 9),
                  (std::vector<BYTE>{'a', 0, 'b', 0, 'c', 0, 0, 0, 0xCC}));

        // Zero bytes stay zero bytes, and nothing is written for them.
        ASSERT_EQ(
            RegSetValueExW(key.get(), u"none", 0, type, reinterpret_cast<const BYTE*>(u""), 0),
            ERROR_SUCCESS);
        std::fill(std::begin(bytes), std::end(bytes), BYTE{0xCC});
        size = sizeof bytes;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"none", nullptr, &read, bytes, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(read, type);
        EXPECT_EQ(bytes[0], 0xCC);

        // An odd byte stays one byte; the terminator comes right after it.
        ASSERT_EQ(RegSetValueExW(key.get(), u"odd", 0, type, reinterpret_cast<const BYTE*>("a"), 1),
                  ERROR_SUCCESS);
        size = sizeof bytes;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"odd", nullptr, nullptr, bytes, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 1u);
        EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 4), (std::vector<BYTE>{'a', 0, 0, 0xCC}));

        // Terminated text stays as it is, with no second terminator.
        ASSERT_EQ(
            RegSetValueExW(key.get(), u"whole", 0, type, reinterpret_cast<const BYTE*>(u"abc"), 8),
            ERROR_SUCCESS);
        std::fill(std::begin(bytes), std::end(bytes), BYTE{0xCC});
        size = sizeof bytes;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"whole", nullptr, nullptr, bytes, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 8u);
        EXPECT_EQ(bytes[8], 0xCC);
    }
}

TEST(Registry, SizesAreToldWhereTheNameOrTheValueFails) {
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Sizes");
    ASSERT_EQ(setString(key.get(), u"longname", u"abcdef"), ERROR_SUCCESS);

    // A name buffer too small: ERROR_MORE_DATA, the name's count left, the type and size told.
    WCHAR name[2];
    DWORD count = 2, type = 77, size = 0;
    EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &count, nullptr, &type, nullptr, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 14u);
    BYTE data[100];
    count = 2, type = 77, size = sizeof data;
    EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &count, nullptr, &type, data, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 14u);

    // A missing value has no size when only the size is asked; a buffer's size is left.
    type = 77, size = 55;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, 77u);
    size = 55;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"missing", nullptr, &type, data, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 55u);
}

TEST(Registry, HandlesCarryTheirAccessRights) {
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Rights\\Existing");
    Key reader;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Rights", KEY_READ, reader), ERROR_SUCCESS);
    EXPECT_EQ(setString(reader.get(), u"x", u"y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader.get(), u"x"), ERROR_ACCESS_DENIED);
    Key child;
    EXPECT_EQ(RegCreateKeyExW(reader.get(), u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              child.put(), nullptr),
              ERROR_ACCESS_DENIED);
    // Opening what exists needs no right on the parent handle.
    EXPECT_EQ(RegCreateKeyExW(reader.get(), u"Existing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              child.put(), nullptr),
              ERROR_SUCCESS);

    Key writer;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Rights", KEY_SET_VALUE, writer),
              ERROR_SUCCESS);
    EXPECT_EQ(setString(writer.get(), u"x", u"y"), ERROR_SUCCESS);
    EXPECT_EQ(queryString(writer.get(), u"x"), std::nullopt);
    WCHAR name[16];
    DWORD count = 16;
    EXPECT_EQ(RegEnumKeyExW(writer.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(queryString(reader.get(), u"x"), u"y");

    // Generic rights map onto key rights.
    Key generic;
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Rights", GENERIC_READ, generic),
              ERROR_SUCCESS);
    EXPECT_EQ(queryString(generic.get(), u"x"), u"y");
    EXPECT_EQ(setString(generic.get(), u"x", u"z"), ERROR_ACCESS_DENIED);
}

TEST(Registry, DeletingAKeyWithSubkeysIsRefusedButTheTreeDeleteTakesAll) {
    Key top = createKey(HKEY_LOCAL_MACHINE, u"Software\\Tree");
    Key leaf = createKey(top.get(), u"Branch\\Leaf");
    ASSERT_EQ(setString(leaf.get(), u"v", u"1"), ERROR_SUCCESS);
    createKey(HKEY_LOCAL_MACHINE, u"Software\\TreeSibling"); // shares the prefix, not the tree
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Tree2");

    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tree"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tree\\Branch\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(setString(leaf.get(), u"v", u"2"), ERROR_KEY_DELETED);

    createKey(top.get(), u"Branch\\Leaf");
    EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"software\\tree"), ERROR_SUCCESS);
    Key gone;
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Tree\\Branch", KEY_READ, gone),
              ERROR_FILE_NOT_FOUND);
    for (const char16_t* kept : {u"Software\\TreeSibling", u"Software\\Tree2"}) {
        Key key;
        EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, kept, KEY_READ, key), ERROR_SUCCESS);
    }
    // A key made again under the old name starts empty.
    Key again = createKey(HKEY_LOCAL_MACHINE, u"Software\\Tree\\Branch\\Leaf");
    EXPECT_EQ(queryString(again.get(), u"v"), std::nullopt);

    // The roots cannot go.
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
}

TEST(Registry, HandleOfADeletedKeyReportsIt) {
    Key held = createKey(HKEY_LOCAL_MACHINE, u"Software\\Doomed");
    ASSERT_EQ(setString(held.get(), u"v", u"1"), ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Doomed"), ERROR_SUCCESS);
    // Even once a key of the same name exists again.
    Key successor = createKey(HKEY_LOCAL_MACHINE, u"Software\\Doomed\\Child");

    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(held.get(), u"v", nullptr, nullptr, nullptr, &size),
              ERROR_KEY_DELETED);
    EXPECT_EQ(setString(held.get(), u"v", u"2"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueW(held.get(), u"v"), ERROR_KEY_DELETED);
    WCHAR name[16];
    DWORD count = 16;
    EXPECT_EQ(RegEnumKeyExW(held.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    count = 16;
    EXPECT_EQ(RegEnumValueW(held.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    Key child;
    EXPECT_EQ(
        RegCreateKeyExW(held.get(), u"New", 0, nullptr, 0, KEY_READ, nullptr, child.put(), nullptr),
        ERROR_KEY_DELETED);
    EXPECT_EQ(openKey(held.get(), u"Child", KEY_READ, child), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyW(held.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(held.release()), ERROR_SUCCESS);
}

TEST(Registry, HandlesAreCheckedAndClosedOnce) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"x", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(&size), nullptr),
              ERROR_INVALID_PARAMETER);
    // The predefined values are Windows' own.
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(HKEY_LOCAL_MACHINE),
              static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));
}

TEST(Registry, DeniedUserMayReadButNotWrite) {
    const std::u16string me = sky::registry::currentUser();
    Key appId = createKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID\\{Existing}");
    ASSERT_EQ(sky::registry::denyWrite(HKEY_LOCAL_MACHINE, u"Software\\Classes\\AppID", me),
              ERROR_SUCCESS);

    Key key;
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID", KEY_ALL_ACCESS, key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID", KEY_WRITE, key),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(openKey(HKEY_CLASSES_ROOT, u"AppID", KEY_READ, key), ERROR_SUCCESS);
    // Below the key as well, and through every way in.
    Key child;
    EXPECT_EQ(openKey(key.get(), u"{Existing}", KEY_SET_VALUE, child), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"AppID\\{New}", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, child.put(), nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\AppID\\{Existing}"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Classes"), ERROR_ACCESS_DENIED);
    // MAXIMUM_ALLOWED settles for reading.
    ASSERT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\AppID", MAXIMUM_ALLOWED, key),
              ERROR_SUCCESS);
    EXPECT_EQ(setString(key.get(), u"x", u"y"), ERROR_ACCESS_DENIED);
    // A handle opened before the denial keeps its rights, as on Windows.
    EXPECT_EQ(setString(appId.get(), u"x", u"y"), ERROR_SUCCESS);
    // The sibling keys are untouched.
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID", KEY_ALL_ACCESS, key),
              ERROR_SUCCESS);

    std::vector<std::u16string> users;
    ASSERT_EQ(sky::registry::deniedUsers(HKEY_CLASSES_ROOT, u"appid", users), ERROR_SUCCESS);
    EXPECT_EQ(users, std::vector<std::u16string>{me});
    ASSERT_EQ(
        sky::registry::allowWrite(HKEY_LOCAL_MACHINE, u"SOFTWARE\\CLASSES\\APPID", sky::upper(me)),
        ERROR_SUCCESS);
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID", KEY_ALL_ACCESS, key),
              ERROR_SUCCESS);
}

TEST(Registry, DenialOfAnotherUserLeavesTheCurrentOneAlone) {
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Shared");
    ASSERT_EQ(sky::registry::denyWrite(HKEY_LOCAL_MACHINE, u"Software\\Shared", u"somebody-else"),
              ERROR_SUCCESS);
    Key key;
    EXPECT_EQ(openKey(HKEY_LOCAL_MACHINE, u"Software\\Shared", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    EXPECT_EQ(sky::registry::denyWrite(HKEY_LOCAL_MACHINE, u"Software\\Missing", u"x"),
              ERROR_FILE_NOT_FOUND);
    // The denial goes with the key.
    ASSERT_EQ(sky::registry::denyWrite(HKEY_LOCAL_MACHINE, u"Software\\Shared",
                                       sky::registry::currentUser()),
              ERROR_SUCCESS);
    key.reset();
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Shared"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(sky::registry::allowWrite(HKEY_LOCAL_MACHINE, u"Software\\Shared",
                                        sky::registry::currentUser()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Shared"), ERROR_SUCCESS);
    createKey(HKEY_LOCAL_MACHINE, u"Software\\Shared");
    std::vector<std::u16string> users;
    ASSERT_EQ(sky::registry::deniedUsers(HKEY_LOCAL_MACHINE, u"Software\\Shared", users),
              ERROR_SUCCESS);
    EXPECT_TRUE(users.empty());
}

TEST(Registry, ReadStringGivesTextOrNothing) {
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Reader");
    ASSERT_EQ(setString(key.get(), u"Path", u"%SystemRoot%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key.get(), u"Number", 1), ERROR_SUCCESS);
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, u"Software\\Reader", u"path"),
              u"%SystemRoot%\\x");
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, u"Software\\Reader", u"Number"),
              std::nullopt);
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, u"Software\\None", u"x"), std::nullopt);
}

TEST(Registry, KeysRecordWhenTheyWereLastWritten) {
    const auto now = [] {
        // 100-nanosecond ticks since 1601.
        const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
        return 116444736000000000ull +
               static_cast<std::uint64_t>(
                   std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100);
    };
    const auto written = [](HKEY key) {
        FILETIME time{};
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, &time),
                  ERROR_SUCCESS);
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    constexpr std::uint64_t kSecond = 10000000;
    const std::uint64_t before = now();
    Key key = createKey(HKEY_LOCAL_MACHINE, u"Software\\Timed");
    const std::uint64_t created = written(key.get());
    EXPECT_GE(created + kSecond, before);
    EXPECT_LE(created, now() + kSecond);

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(setDword(key.get(), u"v", 1), ERROR_SUCCESS);
    const std::uint64_t changed = written(key.get());
    EXPECT_GT(changed, created);
    // A new subkey is a change of its parent too, and the enumeration tells the subkey's time.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Key child = createKey(key.get(), u"Child");
    EXPECT_GT(written(key.get()), changed);
    WCHAR name[16];
    DWORD count = 16;
    FILETIME childTime{};
    ASSERT_EQ(RegEnumKeyExW(key.get(), 0, name, &count, nullptr, nullptr, nullptr, &childTime),
              ERROR_SUCCESS);
    EXPECT_EQ((static_cast<std::uint64_t>(childTime.dwHighDateTime) << 32) |
                  childTime.dwLowDateTime,
              written(child.get()));
}
