#include "definitions/import_preview.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "core/runtime_errors.h"
#include "definitions/import_farm.h"
#include "definitions/save_observer.h"
#include "definitions/scratch_farm.h"
#include "definitions/server_snapshot.h"
#include "qvcomsrv/store/names.h"
#include "sky/text.h"

namespace brask {

namespace {

using sky::farm::Application;
using sky::farm::FarmImage;

// What the command said of each save, in order.
struct SaveEvent {
    std::string distinguishedName;
    bool saved = true;
    std::int32_t number = 0;
    std::string description;
};

class SaveRecorder final : public SaveObserver {
public:
    void saved(std::u16string_view dn) override { events.push_back({sky::narrow(dn)}); }
    void passedOver(std::u16string_view dn, std::int32_t number,
                    std::u16string_view description) override {
        events.push_back({sky::narrow(dn), false, number, sky::narrow(description)});
    }
    std::vector<SaveEvent> events;
};

// Passes the status on to the user; keeps the error report as the preview's stop instead of
// showing it.
class PreviewFeedback final : public Feedback {
public:
    explicit PreviewFeedback(Feedback& shown) : shown_(shown) {}
    void progress(float value) override { shown_.progress(value); }
    void progressDone() override { shown_.progressDone(); }
    void status(std::u16string_view text) override { shown_.status(text); }
    void reportError(std::int32_t number, std::u16string_view description) override {
        stop = PreviewStop{number, sky::narrow(description), {}};
    }
    void notice(std::u16string_view reason, std::u16string_view title) override {
        shown_.notice(reason, title);
    }
    std::optional<PreviewStop> stop;

private:
    Feedback& shown_;
};

// What a store answered, or its problem thrown.
template <typename T> T valueOf(sky::farm::Result<T> result) {
    if (!result) {
        throw sky::ComError(E_FAIL, sky::widen(result.status().message()));
    }
    return std::move(*result);
}

std::unique_ptr<sky::farm::FarmStore> storeAt(const sky::farm::StoreLocation& location) {
    return valueOf(sky::farm::openFarmStore(location));
}

// The farm as the preview compares it, without its icons: its settings, folders and applications
// (compare reads each icon from the store when it needs it, or keeps its digest).
FarmImage imageWithoutIcons(sky::farm::FarmStore& store) {
    FarmImage image;
    image.farm = valueOf(store.farm());
    image.folders = valueOf(store.folders());
    image.applications = valueOf(store.applications(sky::farm::IconLoading::Skip));
    return image;
}

// The SHA-256 digest of an icon: the farm before the run keeps its icons' digests rather than the
// icons (about 4 KB each), read from the store one at a time. A strong digest, since a wrong
// "same" would hide a changed icon from the administrator.
using IconDigest = std::array<unsigned char, 32>;

IconDigest digestOf(const sky::farm::Bytes& icon) {
    IconDigest digest{};
    unsigned int size = 0;
    if (EVP_Digest(icon.data(), icon.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size()) {
        throw sky::ComError(E_FAIL, u"The icons of the farm could not be compared.");
    }
    return digest;
}

// The farm before the run: without its icons, and the digest of each application's icon by the
// application's id.
struct FarmBefore {
    FarmImage image;
    std::map<std::int64_t, IconDigest> icons;
};

// The scratch copy is this process's own and nothing changes it before the run, so that reading it
// a piece at a time gives the one farm it holds.
FarmBefore farmBefore(sky::farm::FarmStore& store) {
    FarmBefore before{imageWithoutIcons(store), {}};
    for (const Application& app : before.image.applications) {
        before.icons.emplace(app.id, digestOf(valueOf(store.applicationIcon(app.id))));
    }
    return before;
}

std::map<std::string, const Application*> byName(const FarmImage& image) {
    std::map<std::string, const Application*> found;
    for (const Application& app : image.applications) {
        found[sky::farm::nameKey(app.distinguishedName())] = &app;
    }
    return found;
}

// `iconOf` gives the icon of an application of `after`; neither farm holds its icons, `before`
// keeps their digests.
void compare(ImportPreview& preview, const FarmBefore& farmBefore, const FarmImage& after,
             const std::vector<SaveEvent>& events,
             const std::function<sky::farm::Bytes(const Application&)>& iconOf) {
    const FarmImage& before = farmBefore.image;
    preview.farmName = before.farm.name;
    for (std::size_t i = 0; i < sky::farm::kFarmSettingCount; ++i) {
        const auto setting = static_cast<sky::farm::FarmSetting>(i);
        if (before.farm.settings.get(setting) != after.farm.settings.get(setting)) {
            preview.farmSettings.push_back({std::string(sky::farm::definition(setting).name),
                                            before.farm.settings.get(setting),
                                            after.farm.settings.get(setting)});
        }
    }
    for (const std::string& folder : after.folders) {
        if (std::none_of(before.folders.begin(), before.folders.end(),
                         [&](const std::string& f) { return sky::farm::sameName(f, folder); })) {
            preview.foldersCreated.push_back(folder);
        }
    }
    const auto beforeApps = byName(before);
    const auto afterApps = byName(after);
    // An application the command stores more than once (a block with two "Icon=" lines, or two
    // blocks of one name) is listed once, where it was first stored, as its last save left it.
    std::map<std::string, std::size_t> listed;
    for (const SaveEvent& event : events) {
        PreviewedApplication app;
        app.distinguishedName = event.distinguishedName;
        const std::string key = sky::farm::nameKey(event.distinguishedName);
        const auto old = beforeApps.find(key);
        const auto now = afterApps.find(key);
        if (!event.saved) {
            app.outcome = SaveOutcome::PassedOver;
            app.errorNumber = event.number;
            app.errorDescription = event.description;
        } else if (old == beforeApps.end()) {
            app.outcome = SaveOutcome::Added;
        } else if (now != afterApps.end()) {
            app.changes = sky::farm::differencesBetween(*old->second, *now->second);
            app.changes.iconChanged =
                digestOf(iconOf(*now->second)) != farmBefore.icons.at(old->second->id);
            app.outcome = app.changes.empty() ? SaveOutcome::Unchanged : SaveOutcome::Replaced;
        }
        if (now != afterApps.end()) {
            app.distinguishedName = now->second->distinguishedName();
        }
        if (const auto [at, first] = listed.try_emplace(key, preview.applications.size()); first) {
            preview.applications.push_back(std::move(app));
        } else {
            preview.applications[at->second] = std::move(app);
        }
    }
    for (const Application& app : before.applications) {
        if (!afterApps.contains(sky::farm::nameKey(app.distinguishedName()))) {
            preview.removed.push_back(app.distinguishedName());
        }
    }
}

} // namespace

ImportPreview previewCommand(PreviewedCommand command, std::u16string_view server,
                             std::u16string_view file, Feedback& feedback) {
    ImportPreview preview;
    preview.command = command;
    preview.file = sky::narrow(file);
    preview.server = sky::narrow(server);

    ScratchFarm scratch;
    const FarmBefore before = farmBefore(*storeAt(scratch.copyLocation()));
    SaveRecorder saves;
    PreviewFeedback shown(feedback);
    {
        // The run's objects all go before the copy is read and removed.
        AdminState state;
        if (command == PreviewedCommand::Import) {
            importFarm(state, shown, file, &saves);
        } else {
            bringServerOnline(state, shown, server, file, &saves);
        }
    }
    feedback.status(u"");
    {
        const std::unique_ptr<sky::farm::FarmStore> store = storeAt(scratch.copyLocation());
        const FarmImage after = imageWithoutIcons(*store);
        compare(preview, before, after, saves.events,
                [&](const Application& app) { return valueOf(store->applicationIcon(app.id)); });
    }
    if (shown.stop) {
        preview.stop = std::move(shown.stop);
        std::vector<std::string>& stored = preview.stop->storedBefore;
        for (const SaveEvent& event : saves.events) {
            if (event.saved && std::none_of(stored.begin(), stored.end(), [&](const auto& dn) {
                    return sky::farm::sameName(dn, event.distinguishedName);
                })) {
                stored.push_back(event.distinguishedName);
            }
        }
    }
    return preview;
}

namespace {

std::string valueText(const sky::farm::SettingValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return std::to_string(*number);
    }
    return nlohmann::json(std::get<std::string>(value)).dump();
}

nlohmann::ordered_json valueJson(const sky::farm::SettingValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return *number;
    }
    return std::get<std::string>(value);
}

const char* outcomeName(SaveOutcome outcome) {
    switch (outcome) {
    case SaveOutcome::Added:
        return "added";
    case SaveOutcome::Replaced:
        return "replaced";
    case SaveOutcome::Unchanged:
        return "unchanged";
    case SaveOutcome::PassedOver:
        return "passed over";
    }
    return "";
}

std::size_t countOf(const ImportPreview& preview, SaveOutcome outcome) {
    return static_cast<std::size_t>(
        std::count_if(preview.applications.begin(), preview.applications.end(),
                      [&](const PreviewedApplication& app) { return app.outcome == outcome; }));
}

std::string plural(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::vector<std::string> accountNames(const std::vector<sky::farm::Account>& accounts) {
    std::vector<std::string> names;
    for (const sky::farm::Account& account : accounts) {
        names.push_back(account.displayName());
    }
    return names;
}

void listLine(std::ostream& out, const char* label, const std::vector<std::string>& names) {
    if (names.empty()) {
        return;
    }
    out << "                 " << label << ": ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        out << (i ? ", " : "") << names[i];
    }
    out << '\n';
}

const char* commandName(const ImportPreview& preview) {
    return preview.command == PreviewedCommand::Import ? "import" : "bringing online";
}

} // namespace

std::string previewText(const ImportPreview& preview) {
    std::ostringstream out;
    if (preview.command == PreviewedCommand::Import) {
        out << "Preview: import of " << preview.file << " into the farm " << preview.farmName;
    } else {
        out << "Preview: bringing server " << preview.server << " online from " << preview.file
            << " in the farm " << preview.farmName;
    }
    out << " (nothing has been changed)\n";
    if (!preview.farmSettings.empty()) {
        out << "\nFarm settings:\n";
        for (const SettingChange& change : preview.farmSettings) {
            out << "  " << change.name << ": " << valueText(change.before) << " → "
                << valueText(change.after) << '\n';
        }
    }
    if (!preview.foldersCreated.empty()) {
        out << "\nFolders created:\n";
        for (const std::string& folder : preview.foldersCreated) {
            out << "  " << folder << '\n';
        }
    }
    if (!preview.applications.empty()) {
        out << "\nApplications:\n";
        for (const PreviewedApplication& app : preview.applications) {
            std::string label = outcomeName(app.outcome);
            label.resize(13, ' ');
            out << "  " << label << app.distinguishedName;
            if (app.outcome == SaveOutcome::PassedOver) {
                out << ": error " << app.errorNumber << ": " << app.errorDescription;
            }
            out << '\n';
            for (const SettingChange& change : app.changes.settings) {
                out << "                 " << change.name << ": " << valueText(change.before)
                    << " → " << valueText(change.after) << '\n';
            }
            listLine(out, "servers gained", app.changes.serversGained);
            listLine(out, "servers lost", app.changes.serversLost);
            listLine(out, "users gained", accountNames(app.changes.usersGained));
            listLine(out, "users lost", accountNames(app.changes.usersLost));
            listLine(out, "groups gained", accountNames(app.changes.groupsGained));
            listLine(out, "groups lost", accountNames(app.changes.groupsLost));
            if (app.changes.iconChanged) {
                out << "                 icon changed\n";
            }
        }
    }
    if (!preview.removed.empty()) {
        out << "\nApplications removed:\n";
        for (const std::string& dn : preview.removed) {
            out << "  " << dn << '\n';
        }
    }
    if (preview.stop) {
        out << "\nThe " << commandName(preview) << " would stop with error " << preview.stop->number
            << ": " << preview.stop->description << '\n';
        out << "Stored before it: "
            << plural(preview.stop->storedBefore.size(), "application", "applications")
            << (preview.stop->storedBefore.empty() ? "" : ":") << '\n';
        for (const std::string& dn : preview.stop->storedBefore) {
            out << "  " << dn << '\n';
        }
    }
    out << "\nSummary: " << countOf(preview, SaveOutcome::Added) << " added, "
        << countOf(preview, SaveOutcome::Replaced) << " replaced, "
        << countOf(preview, SaveOutcome::Unchanged) << " unchanged, "
        << countOf(preview, SaveOutcome::PassedOver) << " passed over, " << preview.removed.size()
        << " removed, " << plural(preview.foldersCreated.size(), "folder", "folders")
        << " created, " << plural(preview.farmSettings.size(), "farm setting", "farm settings")
        << " changed; the " << commandName(preview);
    if (preview.stop) {
        out << " would stop with error " << preview.stop->number << ".\n";
    } else {
        out << " would run to its end.\n";
    }
    return out.str();
}

std::string previewJson(const ImportPreview& preview) {
    using json = nlohmann::ordered_json;
    const auto changesJson = [](const std::vector<SettingChange>& changes) {
        json list = json::array();
        for (const SettingChange& change : changes) {
            list.push_back({{"name", change.name},
                            {"old", valueJson(change.before)},
                            {"new", valueJson(change.after)}});
        }
        return list;
    };
    json applications = json::array();
    for (const PreviewedApplication& app : preview.applications) {
        json entry = {{"distinguishedName", app.distinguishedName},
                      {"outcome", app.outcome == SaveOutcome::PassedOver
                                      ? "passedOver"
                                      : outcomeName(app.outcome)}};
        if (app.outcome == SaveOutcome::Replaced) {
            entry["changes"] = {{"settings", changesJson(app.changes.settings)},
                                {"serversGained", app.changes.serversGained},
                                {"serversLost", app.changes.serversLost},
                                {"usersGained", accountNames(app.changes.usersGained)},
                                {"usersLost", accountNames(app.changes.usersLost)},
                                {"groupsGained", accountNames(app.changes.groupsGained)},
                                {"groupsLost", accountNames(app.changes.groupsLost)},
                                {"iconChanged", app.changes.iconChanged}};
        }
        if (app.outcome == SaveOutcome::PassedOver) {
            entry["error"] = {{"number", app.errorNumber}, {"description", app.errorDescription}};
        }
        applications.push_back(std::move(entry));
    }
    json document = {{"command", preview.command == PreviewedCommand::Import ? "import" : "online"},
                     {"file", preview.file},
                     {"farm", preview.farmName},
                     {"farmSettings", changesJson(preview.farmSettings)},
                     {"foldersCreated", preview.foldersCreated},
                     {"applications", applications},
                     {"removed", preview.removed},
                     {"ranToEnd", preview.ranToEnd()},
                     {"stop", nullptr},
                     {"summary",
                      {{"added", countOf(preview, SaveOutcome::Added)},
                       {"replaced", countOf(preview, SaveOutcome::Replaced)},
                       {"unchanged", countOf(preview, SaveOutcome::Unchanged)},
                       {"passedOver", countOf(preview, SaveOutcome::PassedOver)},
                       {"removed", preview.removed.size()},
                       {"foldersCreated", preview.foldersCreated.size()},
                       {"farmSettingsChanged", preview.farmSettings.size()}}}};
    if (preview.command == PreviewedCommand::Online) {
        document["server"] = preview.server;
    }
    if (preview.stop) {
        document["stop"] = {{"number", preview.stop->number},
                            {"description", preview.stop->description},
                            {"storedBefore", preview.stop->storedBefore}};
    }
    return document.dump(2) + "\n";
}

} // namespace brask
