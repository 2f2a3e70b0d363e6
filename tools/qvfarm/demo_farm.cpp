#include "demo_farm.h"

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>

#include "letter_icons.h"

namespace sky::qvfarm {

using farm::Account;
using farm::Application;
using farm::AppSetting;

namespace {

// Account types and authorities, by their object model values.
constexpr std::int32_t kLocalUser = 1, kDomainUser = 2, kLocalGroup = 3, kGlobalGroup = 4,
                       kUniversalGroup = 5, kDomainLocalGroup = 6;
constexpr std::int32_t kNTDomain = 1, kNDS = 2, kActiveDirectory = 3;

const std::vector<std::string> kHeadquarters{"HQ-SRV01", "HQ-SRV02", "HQ-SRV03", "HQ-SRV04",
                                             "HQ-SRV05"};
// BR-SRV04, the newest, runs no application yet: a server to clone another onto.
const std::vector<std::string> kBranch{"BR-SRV01", "BR-SRV02", "BR-SRV03", "BR-SRV04"};

const Account kDomainUsers{kGlobalGroup, kNTDomain, "CORP", "Domain Users"};
const Account kEngineers{kUniversalGroup, kActiveDirectory, "corp.example.com", "Engineers"};
const Account kDesigners{kGlobalGroup, kActiveDirectory, "corp.example.com", "CAD Designers"};
const Account kFinance{kGlobalGroup, kNDS, "O=VANTORDEMO", "Finance"};
const Account kAuditors{kDomainLocalGroup, kActiveDirectory, "corp.example.com", "Auditors"};
const Account kPowerUsers{kLocalGroup, kNTDomain, "HQ-SRV01", "Power Users"};
const Account kHelpDesk{kGlobalGroup, kNTDomain, "CORP", "Help Desk"};

Application& named(farm::FarmImage& image, const std::string& name) {
    for (Application& app : image.applications) {
        if (app.name == name)
            return app;
    }
    return image.applications.front();
}

Account user(const std::string& name) {
    return {kDomainUser, kNTDomain, "CORP", name};
}

Account directoryUser(const std::string& name) {
    return {kDomainUser, kActiveDirectory, "corp.example.com", name};
}

struct Folder {
    std::string dn;
    IconShape shape;
    std::string programFolder;
    std::vector<std::string> servers;
};

// One application of the demo; `i` makes its colour its own. Without `drawIcon`, no icon.
Application make(const Folder& folder, const std::string& name, const std::string& exe,
                 const std::string& description, int i, bool drawIcon = true) {
    Application app;
    app.folder = folder.dn;
    app.name = name;
    app.description = description;
    (void)app.settings.set(AppSetting::DefaultInitProg,
                           "\"C:\\Program Files\\" + folder.programFolder + "\\" + exe + "\"");
    (void)app.settings.set(AppSetting::DefaultWorkDir,
                           "C:\\Program Files\\" + folder.programFolder);
    (void)app.settings.set(AppSetting::DefaultEncryption, 1 + i % 5);
    (void)app.settings.set(AppSetting::DefaultWindowColor, 3 + i % 2);
    (void)app.settings.set(AppSetting::DefaultWindowType, 2 + i % 3);
    (void)app.settings.set(AppSetting::DefaultSoundType, 1 + i % 2);
    (void)app.settings.set(AppSetting::AddToClientStartMenu, 1);
    if (folder.dn.size() > farm::kRootFolder.size())
        (void)app.settings.set(AppSetting::StartMenuFolder,
                               folder.dn.substr(farm::kRootFolder.size() + 1));
    app.servers = folder.servers;
    if (drawIcon)
        app.icon = letterIcon(name[0], hueColour(i * 37), folder.shape);
    return app;
}

using S = IconShape;

// The demo's folders, with the shape of their icons, where their programs are and the servers
// they run on, and its applications.
struct Catalogue {
    const std::vector<std::string> everywhere{"HQ-SRV01", "HQ-SRV02", "HQ-SRV03", "HQ-SRV04",
                                              "HQ-SRV05", "BR-SRV01", "BR-SRV02", "BR-SRV03"};
    const Folder office{"Applications/Office",
                        S::RoundedSquare,
                        "Office",
                        {"HQ-SRV01", "HQ-SRV02", "BR-SRV01", "BR-SRV02"}};
    const Folder officeTools{
        "Applications/Office/Tools", S::RoundedSquare, "Office\\Tools", {"HQ-SRV01", "HQ-SRV02"}};
    const Folder engineering{
        "Applications/Engineering", S::Diamond, "Engineering", {"HQ-SRV03", "HQ-SRV04"}};
    const Folder cad{
        "Applications/Engineering/CAD", S::Diamond, "CAD", {"HQ-SRV03", "HQ-SRV04", "HQ-SRV05"}};
    const Folder simulation{
        "Applications/Engineering/Simulation", S::Diamond, "Simulation", {"HQ-SRV05"}};
    const Folder finance{"Applications/Finance", S::Shield, "Finance", {"HQ-SRV01", "HQ-SRV02"}};
    const Folder reporting{
        "Applications/Finance/Reporting", S::Shield, "Finance\\Reporting", {"HQ-SRV02"}};
    const Folder utilities{"Applications/Utilities", S::Circle, "Utilities", everywhere};
    const Folder adminTools{
        "Applications/Utilities/Admin Tools", S::Circle, "Admin Tools", {"HQ-SRV01"}};
    const Folder desktops{"Applications/Desktops", S::RoundedSquare, "", {"HQ-SRV01", "BR-SRV03"}};
    const Folder documents{"Applications/Documents", S::RoundedSquare, "", {}};
    const Folder root{"Applications", S::Circle, "Help Desk", {"HQ-SRV01", "BR-SRV01"}};

    struct Entry {
        const Folder* folder;
        const char* name;
        const char* exe;
        const char* description;
    };
    const std::vector<Entry> entries{
        {&office, "Word", "winword.exe", "Word processor"},
        {&office, "Excel", "excel.exe", "Spreadsheets"},
        {&office, "PowerPoint", "powerpnt.exe", "Presentations"},
        {&office, "Outlook", "outlook.exe", "Mail and calendar"},
        {&office, "Access", "msaccess.exe", "Desktop databases"},
        {&office, "Publisher", "mspub.exe", "Leaflets and newsletters"},
        {&office, "Visio", "visio.exe", "Diagrams"},
        {&officeTools, "Spell Checker", "spell.exe", "Dictionaries for every office language"},
        {&officeTools, "Clip Organizer", "clipart.exe", "Clip art gallery"},
        {&officeTools, "Office Setup", "setup.exe", "Adds and removes office features"},
        {&officeTools, "Picture Manager", "ois.exe", "Crops and resizes pictures"},
        {&engineering, "Project Planner", "planner.exe", "Schedules and resources"},
        {&engineering, "Requirements Tracker", "reqtrack.exe", "Requirements and their tests"},
        {&cad, "DraftCAD", "draft.exe", "Two-dimensional drafting"},
        {&cad, "SolidModel", "solid.exe", "Parametric solid modelling"},
        {&cad, "Schematic Editor", "schematic.exe", "Circuit schematics"},
        {&cad, "PCB Layout", "pcb.exe", "Printed circuit boards"},
        {&cad, "Viewer 3D", "view3d.exe", "Views models without a licence"},
        {&simulation, "FlowSim", "flowsim.exe", "Fluid dynamics"},
        {&simulation, "StressLab", "stresslab.exe", "Finite element analysis"},
        {&simulation, "Circuit Simulator", "spice.exe", "Analogue circuit simulation"},
        {&finance, "Ledger", "ledger.exe", "General ledger"},
        {&finance, "Payroll", "payroll.exe", "Salaries and pensions"},
        {&finance, "Expenses", "expenses.exe", "Travel and expense claims"},
        {&finance, "Invoicing", "invoice.exe", "Customer invoices"},
        {&reporting, "Report Designer", "repdes.exe", "Designs financial reports"},
        {&reporting, "Budget Planner", "budget.exe", "Yearly budgets"},
        {&reporting, "Cash Forecast", "cashfc.exe", "Thirteen-week cash forecast"},
        {&utilities, "Notepad", "notepad.exe", "Plain text editor"},
        {&utilities, "Calculator", "calc.exe", "Calculator"},
        {&utilities, "Paint", "mspaint.exe", "Pictures"},
        {&utilities, "File Manager", "winfile.exe", "Files and folders"},
        {&utilities, "Zip Archiver", "zip.exe", "Compressed archives"},
        {&utilities, "Terminal", "cmd.exe", "Command prompt"},
        {&utilities, "Web Browser", "browser.exe", "The intranet and the web"},
        {&adminTools, "Event Viewer", "eventvwr.exe", "Event logs of the servers"},
        {&adminTools, "Registry Editor", "regedit.exe", "Edits a server's registry"},
        {&adminTools, "Server Monitor", "srvmon.exe", "Load and sessions of every server"},
        {&root, "Help Desk", "helpdesk.exe", "Report a problem"},
    };

    // The groups and users of the folder's applications.
    void grant(Application& app, const Folder& folder, const std::string& administrator) const {
        const std::string& dn = folder.dn;
        if (dn == office.dn || dn == officeTools.dn || dn == utilities.dn || dn == root.dn) {
            app.groups = {kDomainUsers};
        } else if (dn.rfind(engineering.dn, 0) == 0) {
            app.groups = {kEngineers};
            if (dn == cad.dn)
                app.groups.push_back(kDesigners);
            app.users = {directoryUser("jmorgan")};
        } else if (dn.rfind(finance.dn, 0) == 0) {
            app.groups = {kFinance, kAuditors};
            app.users = {user("cfo")};
        } else if (dn == adminTools.dn) {
            app.groups = {kHelpDesk, kPowerUsers};
            app.users = {user(administrator)};
        }
    }

    std::vector<std::string> folderNames() const {
        std::vector<std::string> names;
        for (const Folder* f : {&office, &officeTools, &engineering, &cad, &simulation, &finance,
                                &reporting, &utilities, &adminTools, &desktops, &documents})
            names.push_back(f->dn);
        // An empty folder, ready for what comes next.
        names.push_back("Applications/Engineering/Archive");
        return names;
    }
};

// The demo's farm settings and administrators.
farm::FarmImage demoBase(const std::string& farmName, const std::string& administrator) {
    farm::FarmImage image;
    image.farm.name = farmName;
    auto& settings = image.farm.settings;
    (void)settings.set(farm::FarmSetting::MaxConnectionsPerUser, 3);
    (void)settings.set(farm::FarmSetting::LogOverLimitDenials, 1);
    (void)settings.set(farm::FarmSetting::EnableSNMPAgent, 1);
    (void)settings.set(farm::FarmSetting::SNMPLogonTrap, 1);
    (void)settings.set(farm::FarmSetting::SNMPThresholdValue, 250);
    (void)settings.set(farm::FarmSetting::NDSPreferredTree, std::string("VANTORDEMO"));
    (void)settings.set(farm::FarmSetting::OvraVideoBufferSize, 1000);
    (void)settings.set(farm::FarmSetting::ZonesShareLoadInfo, 1);

    image.administrators = {"Administrator", administrator};
    if (farm::sameName(administrator, "Administrator"))
        image.administrators.pop_back();
    return image;
}

} // namespace

farm::FarmImage demoFarm(const std::string& farmName, const std::string& administrator) {
    farm::FarmImage image = demoBase(farmName, administrator);

    image.zones = {{"Branch", "BR-SRV01"}, {"Headquarters", "HQ-SRV01"}};
    for (std::size_t i = 0; i < kHeadquarters.size(); ++i)
        image.servers.push_back({kHeadquarters[i], "Headquarters", 5, i == 2 || i == 4 ? 0 : 2});
    for (std::size_t i = 0; i < kBranch.size(); ++i)
        image.servers.push_back({kBranch[i], "Branch", 5, i == 1 ? 0 : 2});

    const Catalogue c;
    int i = 0;
    for (const Catalogue::Entry& e : c.entries) {
        Application app = make(*e.folder, e.name, e.exe, e.description, i++);
        c.grant(app, *e.folder, administrator);
        image.applications.push_back(std::move(app));
    }
    Application& calculator = named(image, "Calculator");
    calculator.users = {{kLocalUser, kNTDomain, "HQ-SRV01", "kiosk"}};
    (void)calculator.settings.set(AppSetting::DefaultWindowType, 5); // custom size
    (void)calculator.settings.set(AppSetting::DefaultWindowWidth, 320);
    (void)calculator.settings.set(AppSetting::DefaultWindowHeight, 400);
    Application& viewer = named(image, "Viewer 3D");
    (void)viewer.settings.set(AppSetting::DefaultWindowType, 8); // 1600x1200
    (void)viewer.settings.set(AppSetting::DefaultWindowColor, 4);
    Application& browser = named(image, "Web Browser");
    (void)browser.settings.set(AppSetting::DefaultWindowType, 6); // a share of the desktop
    (void)browser.settings.set(AppSetting::DefaultWindowScale, 80);
    (void)browser.settings.set(AppSetting::LumoAttributes, 6);
    // Office Setup is withdrawn from users for now.
    Application& setup = named(image, "Office Setup");
    (void)setup.settings.set(AppSetting::EnableApp, 0);
    (void)setup.settings.set(AppSetting::HideDisabledApp, 1);
    (void)setup.settings.set(AppSetting::LumoAttributes, 1);

    // A whole desktop of a headquarters server and of a branch server.
    int d = 0;
    for (const char* name : {"Headquarters Desktop", "Branch Desktop"}) {
        Application desktop = make(c.desktops, name, "", "The whole desktop of a farm server", i++);
        (void)desktop.settings.set(AppSetting::DefaultInitProg, std::string());
        (void)desktop.settings.set(AppSetting::DefaultWorkDir, std::string());
        (void)desktop.settings.set(AppSetting::LumoAttributes, 8);
        (void)desktop.settings.set(AppSetting::DefaultWindowType, 7); // full screen
        (void)desktop.settings.set(AppSetting::DesktopIntegrate, 2);
        desktop.servers = {d++ == 0 ? "HQ-SRV01" : "BR-SRV03"};
        desktop.groups = {kHelpDesk};
        desktop.users = {user(administrator)};
        image.applications.push_back(std::move(desktop));
    }
    // Published documents: content, not Windows applications.
    for (const char* name : {"Employee Handbook", "Travel Policy"}) {
        Application document = make(c.documents, name, "", "Company document", i++);
        document.type = farm::kPublishedContentType;
        (void)document.settings.set(AppSetting::DefaultInitProg,
                                    std::string("http://intranet.corp.example.com/") + name);
        (void)document.settings.set(AppSetting::DefaultWorkDir, std::string());
        document.groups = {kDomainUsers};
        image.applications.push_back(std::move(document));
    }

    image.folders = c.folderNames();
    return image;
}

LargeDemoFarm largeDemoFarm(const std::string& farmName, const std::string& administrator,
                            std::size_t applications, std::size_t servers) {
    LargeDemoFarm demo{demoBase(farmName, administrator), {}};
    farm::FarmImage& image = demo.image;
    // Five servers in eight at headquarters, as in the demo; numbered wide enough for all.
    const std::size_t headquarters = servers - servers * 3 / 8;
    const std::size_t width = std::max<std::size_t>(4, std::to_string(servers).size());
    const auto numbered = [width](const char* prefix, std::size_t n) {
        std::string digits = std::to_string(n);
        return prefix + std::string(width - std::min(width, digits.size()), '0') + digits;
    };
    for (std::size_t s = 0; s < servers; ++s) {
        const bool atHeadquarters = s < headquarters;
        image.servers.push_back(
            {atHeadquarters ? numbered("HQ-SRV", s + 1) : numbered("BR-SRV", s - headquarters + 1),
             atHeadquarters ? "Headquarters" : "Branch", 5, s % 3 == 2 ? 0 : 2});
    }
    if (headquarters < servers)
        image.zones.push_back({"Branch", image.servers[headquarters].name});
    image.zones.push_back({"Headquarters", image.servers.front().name});

    // A set of folders per 100 rounds of the demo's applications, below each of its folders.
    const auto catalogue = std::make_shared<const Catalogue>();
    const std::size_t perSet = catalogue->entries.size() * 100;
    const std::size_t sets = (applications + perSet - 1) / perSet;
    const auto setFolder = [](const std::string& folder, std::size_t set) {
        std::string number = std::to_string(set + 1);
        return folder + "/Set " + std::string(3 - std::min<std::size_t>(3, number.size()), '0') +
               number;
    };
    image.folders = catalogue->folderNames();
    for (std::size_t set = 0; set < sets; ++set) {
        for (const Catalogue::Entry& e : catalogue->entries) {
            std::string dn = setFolder(e.folder->dn, set);
            if (image.folders.empty() || image.folders.back() != dn)
                image.folders.push_back(std::move(dn));
        }
    }

    std::vector<std::string> serverNames;
    for (const farm::Server& server : image.servers)
        serverNames.push_back(server.name);
    // The icons: a letter on its folder's shape, in one of 36 hues, each drawn once.
    auto icons = std::make_shared<std::map<std::tuple<char, int, IconShape>, farm::Bytes>>();
    demo.applications = [=](std::size_t first, std::vector<Application>& batch) {
        constexpr std::size_t kBatch = 1000;
        const std::size_t count = servers == 0 ? 0 : std::min<std::size_t>(3, servers);
        const std::size_t step = std::max<std::size_t>(1, servers / 3);
        for (std::size_t i = first; i < applications && i < first + kBatch; ++i) {
            const Catalogue::Entry& e = catalogue->entries[i % catalogue->entries.size()];
            Folder folder = *e.folder;
            folder.dn = setFolder(folder.dn, i / perSet);
            folder.servers.clear();
            for (std::size_t k = 0; k < count; ++k)
                folder.servers.push_back(serverNames[(i + k * step) % servers]);
            const std::string name = std::string(e.name) + " " + std::to_string(i + 1);
            Application app =
                make(folder, name, e.exe, e.description, static_cast<int>(i % 360), false);
            catalogue->grant(app, *e.folder, administrator);
            app.users.push_back(user("user" + std::to_string(i % 5000 + 1)));
            const int hue = static_cast<int>(i * 37 % 36) * 10;
            auto& icon = (*icons)[{name[0], hue, folder.shape}];
            if (icon.empty())
                icon = letterIcon(name[0], hueColour(hue), folder.shape);
            app.icon = icon;
            batch.push_back(std::move(app));
        }
        return !batch.empty();
    };
    return demo;
}

} // namespace sky::qvfarm
