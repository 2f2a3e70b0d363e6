// /RegServer and /UnRegServer as real runs of the installed program, judged by the registry they
// leave, exported with `reg export` and compared with what the class table and the layout of a
// registration say, written out here by hand.
//
// Besides the keys qvcom writes itself, an export after registration holds what two platform
// calls write as Windows does:
//   RegisterTypeLib  TypeLib\{LIBID}\4.0 (default: the library's help string) with 409\win32 (the
//                    program path), FLAGS ("0") and HELPDIR (the program's directory); and for
//                    every dual or dispatch interface Interface\{IID} (default: its name) with
//                    ProxyStubClsid and ProxyStubClsid32 ({00020424-...}) and TypeLib ({LIBID},
//                    "Version" = "4.0");
//   CreateServiceW   Services\QVCom with Type, Start, ErrorControl, ImagePath (REG_EXPAND_SZ),
//                    DisplayName, ObjectName, DependOnService (REG_MULTI_SZ).
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sky/registry.h"
#include "sky/services.h"
#include "test_support.h"
#include "win/lasterror.h"
#include "win/service.h"
#include "win/typelib.h"

using namespace qvcom_test;

namespace {

// key path -> value name ("@" for the default) -> the value as the export writes it
using Export = std::map<std::string, std::map<std::string, std::string>>;

// Runs `reg export KEY` and reads the file back into keys and values.
Export exportKey(const std::string& key) {
    const fs::path file = sky::machine::root() / "export.reg";
    const std::string command = (sky::testing::buildBin() / "reg").string() + " export '" + key +
                                "' '" + file.string() + "' /y >/dev/null 2>&1";
    Export result;
    if (std::system(command.c_str()) != 0)
        return result;
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    std::string utf8 = sky::narrow(text);
    std::string current, pending;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = utf8.find('\n', start);
        if (end == std::string::npos)
            end = utf8.size();
        std::string line = utf8.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!pending.empty()) {
            line = pending + line.substr(line.find_first_not_of(' '));
            pending.clear();
        }
        if (!line.empty() && line.back() == '\\' && line.front() != '[') {
            pending = line.substr(0, line.size() - 1);
            continue;
        }
        if (line.size() > 2 && line.front() == '[') {
            current = line.substr(1, line.size() - 2);
            result[current];
        } else if (!line.empty() && (line.front() == '"' || line.front() == '@')) {
            const std::size_t equals = line.front() == '@' ? 1 : line.find("\"=", 1) + 1;
            std::string name = line.substr(0, equals);
            result[current][name] = line.substr(equals + 1);
        }
    }
    return result;
}

// Keys below a root, with the root's prefix taken off, leaving out those a filter rejects.
Export below(const Export& all, const std::string& root, bool (*keep)(const std::string&)) {
    Export part;
    for (const auto& [key, values] : all) {
        if (key.size() > root.size() && key.compare(0, root.size() + 1, root + "\\") == 0) {
            const std::string rest = key.substr(root.size() + 1);
            if (keep(rest))
                part[rest] = values;
        }
    }
    return part;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The class table, by hand: class name, CLSID's first group, version.
struct Row {
    const char* name;
    const char* first;
    int major;
};
const Row classTable[] = {
    {"SkyloomFarm", "ED62F4E2", 6},
    {"SkyloomServer", "ED62F4E3", 5},
    {"SkyloomApplication", "ED62F4E4", 5},
    {"SkyloomSession", "ED62F4E6", 5},
    {"SkyloomProcess", "ED62F4EC", 2},
    {"SkyloomVirtualChannel", "ED62F4ED", 2},
    {"SkyloomUser", "ED62F4EE", 5},
    {"SkyloomGroup", "ED62F4EF", 5},
    {"SkyloomFolder", "ED62F51F", 4},
    {"SkyloomAccountAuthority", "ED62F4E5", 3},
    {"SkyloomZone", "ED62F4EA", 2},
    {"SkyloomAppSrvBinding", "ED62F525", 2},
    {"SkyloomPrinter", "ED62F54C", 1},
    {"SkyloomPrinterDriver", "ED62F54D", 1},
    {"SkyloomPrinterDriverMapping", "ED62F55C", 1},
    {"SkyloomPolicy", "ED62F537", 4},
    {"SkyloomClientPrinter", "ED62F55B", 1},
    {"SkyloomCredential", "ED62F55A", 1},
    {"SkyloomMultiString", "ED62F565", 2},
    {"SkyloomSmartCardSetting", "ED62F56A", 1},
    {"SkyloomMyServer", "ED62F569", 2},
    {"SkyloomVCPolicy", "ED62F579", 1},
    {"SkyloomMyAccount", "ED62F57C", 1},
    {"SkyloomFleetview", "ED62F583", 1},
    {"SkyloomPrivileges", "ED62F588", 3},
    {"SkyloomID", "ED62F587", 1},
    {"SkyloomAppSrvBindings", "ED62F596", 1},
    {"SkyloomLMRule", "ED62F5A6", 1},
    {"SkyloomLoadEvaluator", "ED62F5A7", 1},
    {"SkyloomAppliedPolicy", "ED62F5AD", 1},
    {"SkyloomMe", "ED62F5B2", 2},
    {"SkyloomLMRules", "ED62F5B4", 1},
    {"SkyloomFolders", "ED62F5B6", 2},
    {"SkyloomMyAccounts", "ED62F5B7", 1},
    {"SkyloomPolicyFilter", "ED62F5B8", 1},
    {"SkyloomFile", "ED62F5C5", 1},
    {"SkyloomIcon", "ED62F5C6", 1},
    {"SkyloomAdministrator", "ED62F5A8", 1},
    {"SkyloomVIPRange", "ED62F5D5", 1},
    {"SkyloomIPRange", "ED62F5E6", 1},
    {"SkyloomAIE", "ED62F5F1", 1},
    {"SkyloomAIERule", "ED62F604", 1},
    {"SkyloomAIERoot", "ED62F602", 1},
    {"SkyloomAIESrvBinding", "ED62F603", 1},
    {"SkyloomAIERules", "ED62F606", 1},
    {"SkyloomPrinterDrivers", "ED62F607", 1},
    {"SkyloomPrinters", "ED62F608", 1},
};
const char libId[] = "{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}";
const char programPath[] = "C:\\\\WINDOWS\\\\System32\\\\qvcom.exe";

std::string clsidOf(const Row& row) {
    return std::string("{") + row.first + "-63C2-11D4-94D8-00C04FB0F326}";
}

// What registration writes below the classes root for every class.
Export expectedClasses() {
    Export expected;
    for (const Row& row : classTable) {
        const std::string progId = std::string("SkyloomCOM.") + row.name;
        const std::string versioned = progId + "." + std::to_string(row.major);
        const std::string description =
            quoted(std::string(row.name) + " Class " + std::to_string(row.major) + ".0");
        const std::string clsid = clsidOf(row);
        expected[progId]["@"] = description;
        expected[progId + "\\CLSID"]["@"] = quoted(clsid);
        expected[progId + "\\CurVer"]["@"] = quoted(versioned);
        expected[versioned];
        expected[versioned + "\\CLSID"]["@"] = quoted(clsid);
        expected["CLSID\\" + clsid]["@"] = description;
        expected["CLSID\\" + clsid]["\"AppID\""] = quoted(libId);
        expected["CLSID\\" + clsid + "\\LocalServer32"]["@"] = quoted(programPath);
        expected["CLSID\\" + clsid + "\\ProgID"]["@"] = quoted(versioned);
        expected["CLSID\\" + clsid + "\\VersionIndependentProgID"]["@"] = quoted(progId);
        expected["CLSID\\" + clsid + "\\TypeLib"]["@"] = quoted(libId);
    }
    return expected;
}

bool classKey(const std::string& key) {
    return key.rfind("SkyloomCOM.", 0) == 0 || key.rfind("CLSID\\", 0) == 0;
}
bool anyKey(const std::string&) {
    return true;
}

const std::string classesRoot = "HKEY_LOCAL_MACHINE\\Software\\Classes";

using Registration = InstalledMachine;

} // namespace

TEST_F(Registration, RegisterWritesTheTablesLayout) {
    const Outcome run = runQvcom(u"/RegServer");
    ASSERT_EQ(run.exitCode, 0u) << run.boxes;
    EXPECT_EQ(run.boxes, "");
    const Export classes = exportKey(classesRoot);
    EXPECT_EQ(below(classes, classesRoot, classKey), expectedClasses());

    EXPECT_EQ(
        below(classes, classesRoot,
              [](const std::string& k) { return k.rfind("AppID\\", 0) == 0; }),
        (Export{{"AppID\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}",
                 {{"\"LocalService\"", "\"QVCom\""}, {"\"ServiceParameters\"", "\"-Service\""}}}}));
    EXPECT_EQ(
        below(classes, classesRoot,
              [](const std::string& k) { return k.rfind("TypeLib\\", 0) == 0; }),
        (Export{{"TypeLib\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}", {}},
                {"TypeLib\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}\\4.0",
                 {{"@", "\"Vantor Skyloom COM Library\""}}},
                {"TypeLib\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}\\4.0\\409", {}},
                {"TypeLib\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}\\4.0\\409\\win32",
                 {{"@", quoted(programPath)}}},
                {"TypeLib\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}\\4.0\\FLAGS", {{"@", "\"0\""}}},
                {"TypeLib\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}\\4.0\\HELPDIR",
                 {{"@", "\"C:\\\\WINDOWS\\\\System32\""}}}}));

    // Every interface of the library (180, in 91 families), each as the farm's newest one is.
    const Export interfaces = below(classes, classesRoot, [](const std::string& k) {
        return k.rfind("Interface\\", 0) == 0 && k.find('\\', 10) == std::string::npos;
    });
    EXPECT_EQ(interfaces.size(), 180u);
    const std::string farm6 = "Interface\\{ED62F5C8-63C2-11D4-94D8-00C04FB0F326}";
    EXPECT_EQ(
        below(classes, classesRoot,
              [](const std::string& k) {
                  return k.rfind("Interface\\{ED62F5C8-63C2-11D4-94D8-00C04FB0F326}", 0) == 0;
              }),
        (Export{
            {farm6, {{"@", "\"ISkyloomFarm6\""}}},
            {farm6 + "\\ProxyStubClsid", {{"@", "\"{00020424-0000-0000-C000-000000000046}\""}}},
            {farm6 + "\\ProxyStubClsid32", {{"@", "\"{00020424-0000-0000-C000-000000000046}\""}}},
            {farm6 + "\\TypeLib", {{"@", quoted(libId)}, {"\"Version\"", "\"4.0\""}}}}));

    const std::string services = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services";
    EXPECT_EQ(below(exportKey(services), services, anyKey),
              (Export{{"QVCom",
                       {{"\"Type\"", "dword:00000010"},
                        {"\"Start\"", "dword:00000002"},
                        {"\"ErrorControl\"", "dword:00000000"},
                        {"\"ImagePath\"",
                         "hex(2):43,00,3a,00,5c,00,57,00,49,00,4e,00,44,00,4f,00,57,00,53,00,"
                         "5c,00,53,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,71,00,76,"
                         "00,63,00,6f,00,6d,00,2e,00,65,00,78,00,65,00,00,00"},
                        {"\"DisplayName\"", "\"Skyloom Object Model Service\""},
                        {"\"ObjectName\"", "\"LocalSystem\""},
                        {"\"DependOnService\"",
                         "hex(7):52,00,50,00,43,00,53,00,53,00,00,00,57,00,4d,00,49,00,00,00,00,"
                         "00"},
                        {"\"Description\"",
                         "\"Serves the Skyloom farm's automation object model to the farm's "
                         "administration tools. If this service is stopped, those tools cannot "
                         "reach the farm.\""},
                        {"\"TarnWaitTimeout\"", "dword:000927c0"},
                        {"\"TarnWaitPause\"", "dword:00007530"}}}}));
    const std::string ole = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\OLE";
    EXPECT_EQ(exportKey(ole)[ole], (std::map<std::string, std::string>{
                                       {"\"LegacyImpersonationLevel\"", "dword:00000003"}}));

    // The program carries its type library: loaded from the installed path as registration does.
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(u"C:\\WINDOWS\\System32\\qvcom.exe", &lib), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount() > 0, true);
    lib->Release();
}

TEST_F(Registration, TwiceSucceedsAndKeepsTheDevelopmentRegistration) {
    const std::u16string inproc =
        u"Software\\Classes\\CLSID\\{ED62F4E2-63C2-11D4-94D8-00C04FB0F326}\\InprocServer32";
    setText(HKEY_LOCAL_MACHINE, inproc, nullptr, u"C:\\WINDOWS\\System32\\qvcomsrv.dll");
    EXPECT_EQ(runQvcom(u"/RegServer").exitCode, 0u);
    EXPECT_EQ(runQvcom(u"-regserver").exitCode, 0u);
    const Export classes = exportKey(classesRoot);
    EXPECT_EQ(classes.count(classesRoot + "\\" + sky::narrow(inproc.substr(17))), 1u);
    int inprocKeys = 0;
    for (const auto& [key, values] : classes)
        inprocKeys += key.find("InprocServer32") != std::string::npos;
    EXPECT_EQ(inprocKeys, 1) << "registration writes no InprocServer32";
}

TEST_F(Registration, UnregisterRemovesEveryVersionAndWithdrawnClasses) {
    ASSERT_EQ(runQvcom(u"/RegServer").exitCode, 0u);
    for (int v = 1; v <= 5; ++v)
        setText(HKEY_LOCAL_MACHINE,
                u"Software\\Classes\\SkyloomCOM.SkyloomFarm." + sky::widen(std::to_string(v)) +
                    u"\\CLSID",
                nullptr, u"{ED62F4E2-63C2-11D4-94D8-00C04FB0F326}");
    for (const char16_t* withdrawn :
         {u"SkyloomCOM.SkyloomDriver\\CLSID", u"SkyloomCOM.SkyloomDriver.1\\CLSID\\Deeper",
          u"SkyloomCOM.SkyloomDriverMapping", u"SkyloomCOM.SkyloomDriverMapping.1"})
        setText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\" + std::u16string(withdrawn), nullptr,
                u"x");
    ASSERT_EQ(runQvcom(u"/UnRegServer").exitCode, 0u);
    const Export classes = exportKey(classesRoot);
    for (const auto& [key, values] : classes) {
        EXPECT_EQ(key.find("SkyloomCOM."), std::string::npos) << key;
        EXPECT_EQ(key.find("ED62F"), std::string::npos) << key;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(OpenServiceW(manager, u"QVCom", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    CloseServiceHandle(manager);

    // Nothing registered: still 0, since Software\Classes\Typelib opens.
    EXPECT_EQ(runQvcom(u"/UnRegServer").exitCode, 0u);
}

// The program as it is built carries no extension: unregistration loads its type library from
// that file as it is named, and removes every interface key.
TEST_F(Registration, UnregisterByAProgramWithoutExtensionRemovesTheInterfaces) {
    fs::copy_file(system32() / "qvcom.exe", system32() / "qvcom");
    ASSERT_EQ(runQvcom(u"/RegServer").exitCode, 0u);
    const auto interfaces = [] {
        return below(exportKey(classesRoot), classesRoot,
                     [](const std::string& k) {
                         return k.rfind("Interface\\", 0) == 0 &&
                                k.find('\\', 10) == std::string::npos;
                     })
            .size();
    };
    ASSERT_EQ(interfaces(), 180u);
    ASSERT_EQ(runQvcom(u"/UnRegServer", u"C:\\WINDOWS\\System32\\qvcom").exitCode, 0u);
    EXPECT_EQ(interfaces(), 0u);
}

TEST_F(Registration, RoundTripLeavesTheMachineAsItWas) {
    const Export before = exportKey("HKEY_LOCAL_MACHINE");
    ASSERT_EQ(runQvcom(u"/RegServer").exitCode, 0u);
    ASSERT_EQ(runQvcom(u"/UnRegServer").exitCode, 0u);
    Export after = exportKey("HKEY_LOCAL_MACHINE");
    // A whole export names the keys as they were created (the machine's own keys in capitals).
    const std::string ole = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\OLE";
    ASSERT_EQ(after.count(ole), 1u);
    EXPECT_EQ(after[ole]["\"LegacyImpersonationLevel\""], "dword:00000003");
    after[ole].erase("\"LegacyImpersonationLevel\"");
    EXPECT_EQ(after, before);
}

TEST_F(Registration, OldSystemsGetTheTerminalServerKeys) {
    const std::u16string sp6 = u"Service Pack 6";
    setProfile(u"4.0", u"1381", &sp6);
    const Export before = exportKey("HKEY_LOCAL_MACHINE");
    ASSERT_EQ(runQvcom(u"/RegServer").exitCode, 0u);
    const std::string compatibility = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\"
                                      "CurrentVersion\\Terminal Server\\Compatibility\\CLSID";
    Export expected;
    for (const Row& row : classTable)
        expected[clsidOf(row)]["\"fSystemGlobalClass\""] = "dword:00000001";
    EXPECT_EQ(below(exportKey(compatibility), compatibility, anyKey), expected);
    // The classes went through the merged view, which is HKLM\Software\Classes.
    EXPECT_EQ(below(exportKey(classesRoot), classesRoot, classKey), expectedClasses());

    ASSERT_EQ(runQvcom(u"/UnRegServer").exitCode, 0u);
    EXPECT_TRUE(below(exportKey(compatibility), compatibility, anyKey).empty());
    // What stays: the OLE value and the compatibility key's parents.
    Export after = exportKey("HKEY_LOCAL_MACHINE");
    after.at("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\OLE").erase("\"LegacyImpersonationLevel\"");
    for (const char* parent : {"\\Terminal Server", "\\Terminal Server\\Compatibility",
                               "\\Terminal Server\\Compatibility\\CLSID"})
        EXPECT_EQ(after.erase("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\"
                              "CurrentVersion" +
                              std::string(parent)),
                  1u)
            << parent;
    EXPECT_EQ(after, before);
}

TEST_F(Registration, FailuresBeforeAnythingIsWritten) {
    const Export pristine = exportKey("HKEY_LOCAL_MACHINE");
    // A user who may not write Software\Classes\APPID.
    ASSERT_EQ(sky::registry::denyWrite(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID",
                                       sky::registry::currentUser()),
              ERROR_SUCCESS);
    const Export denied = exportKey("HKEY_LOCAL_MACHINE");
    EXPECT_EQ(runQvcom(u"/RegServer").exitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(exportKey("HKEY_LOCAL_MACHINE"), denied);
    ASSERT_EQ(sky::registry::allowWrite(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID",
                                        sky::registry::currentUser()),
              ERROR_SUCCESS);

    // Help after the switch: nothing registered.
    EXPECT_EQ(runQvcom(u"/RegServer /Help").exitCode, 0u);
    EXPECT_EQ(exportKey("HKEY_LOCAL_MACHINE"), pristine);

    // An empty Windows folder: the same as none, not classes registered at System32\qvcom.exe.
    writeInstallKey(u"");
    const Export emptyFolder = exportKey("HKEY_LOCAL_MACHINE");
    EXPECT_EQ(runQvcom(u"/RegServer").exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(exportKey("HKEY_LOCAL_MACHINE"), emptyFolder);

    // No install key: ERROR_FILE_NOT_FOUND and nothing written.
    removeInstallKey();
    const Export withoutKey = exportKey("HKEY_LOCAL_MACHINE");
    EXPECT_EQ(runQvcom(u"/RegServer").exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(exportKey("HKEY_LOCAL_MACHINE"), withoutKey);
}
