#include "farm_json.h"

#include <algorithm>
#include <istream>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "base64.h"
#include "qvcomsrv/store/icon.h"

namespace sky::qvfarm {

using farm::Status;
using Json = nlohmann::ordered_json;

namespace {

constexpr std::string_view kFormat = "skyloom-farm";
constexpr int kVersion = 1;

// --- writing ---

// Every setting by name, but those `leftOut` names by index.
template <typename Values, typename LeftOut>
Json settingsToJson(const Values& values, LeftOut leftOut) {
    Json json = Json::object();
    for (std::size_t i = 0; i < Values::size(); ++i) {
        if (leftOut(i))
            continue;
        const std::string name(Values::def(i).name);
        const farm::SettingValue& value = values.at(i);
        if (const auto* n = std::get_if<std::int32_t>(&value))
            json[name] = *n;
        else
            json[name] = std::get<std::string>(value);
    }
    return json;
}

template <typename Values> Json settingsToJson(const Values& values) {
    return settingsToJson(values, [](std::size_t) { return false; });
}

Json accountsToJson(const std::vector<farm::Account>& accounts) {
    Json json = Json::array();
    for (const farm::Account& a : accounts)
        json.push_back({{"accountType", a.accountType},
                        {"authorityType", a.authorityType},
                        {"authorityName", a.authorityName},
                        {"name", a.name}});
    return json;
}

Json applicationToJson(const farm::Application& app) {
    Json json;
    json["distinguishedName"] = app.distinguishedName();
    json["type"] = app.type;
    json["description"] = app.description;
    json["settings"] = settingsToJson(app.settings);
    json["servers"] = app.servers;
    json["users"] = accountsToJson(app.users);
    json["groups"] = accountsToJson(app.groups);
    if (app.icon && !app.icon->empty())
        json["icon"] = toBase64(*app.icon);
    else
        json["icon"] = nullptr;
    return json;
}

// --- reading ---

// A mistake in the JSON; `where` is the JSON pointer of the value at fault.
struct Mistake {
    std::string where;
    std::string what;
};

[[noreturn]] void mistake(const std::string& where, std::string what) {
    throw Mistake{where.empty() ? "/" : where, std::move(what)};
}

const char* typeName(const Json& json) {
    return json.type_name();
}

void expect(const Json& json, Json::value_t type, const std::string& where, const char* wanted) {
    const bool ok =
        type == Json::value_t::number_integer ? json.is_number_integer() : json.type() == type;
    if (!ok)
        mistake(where, std::string("expected ") + wanted + ", found " + typeName(json) + ".");
}

const Json& member(const Json& object, const char* key, const std::string& where) {
    auto it = object.find(key);
    if (it == object.end())
        mistake(where, std::string("\"") + key + "\" is missing.");
    return *it;
}

void onlyKeys(const Json& object, std::initializer_list<const char*> keys,
              const std::string& where) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char* key : keys)
            known = known || it.key() == key;
        if (!known)
            mistake(where, "unknown key \"" + it.key() + "\".");
    }
}

std::string text(const Json& json, const std::string& where) {
    expect(json, Json::value_t::string, where, "a string");
    return json.get<std::string>();
}

std::int32_t number(const Json& json, const std::string& where) {
    expect(json, Json::value_t::number_integer, where, "an integer");
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    const bool fits = json.is_number_unsigned()
                          ? json.get<std::uint64_t>() <= static_cast<std::uint64_t>(kMax)
                          : json.get<std::int64_t>() >= kMin && json.get<std::int64_t>() <= kMax;
    if (!fits)
        mistake(where, "the number does not fit in 32 bits.");
    return static_cast<std::int32_t>(json.get<std::int64_t>());
}

std::string optionalText(const Json& object, const char* key, const std::string& where) {
    auto it = object.find(key);
    return it == object.end() ? std::string() : text(*it, where + "/" + key);
}

const Json& optionalArray(const Json& object, const char* key, const std::string& where) {
    static const Json empty = Json::array();
    auto it = object.find(key);
    if (it == object.end())
        return empty;
    expect(*it, Json::value_t::array, where + "/" + key, "an array");
    return *it;
}

void check(const Status& status, const std::string& where) {
    if (!status)
        mistake(where, status.message());
}

template <typename Values, typename Find>
void settingsFromJson(const Json& json, Values& values, Find find, const std::string& where) {
    expect(json, Json::value_t::object, where, "an object");
    for (auto it = json.begin(); it != json.end(); ++it) {
        const std::string at = where + "/" + it.key();
        auto id = find(it.key());
        if (!id)
            mistake(at, "there is no setting \"" + it.key() + "\".");
        const farm::SettingValue value = farm::definition(*id).isText()
                                             ? farm::SettingValue(text(*it, at))
                                             : farm::SettingValue(number(*it, at));
        check(values.set(*id, value), at);
    }
}

std::vector<std::string> names(const Json& array, const std::string& where) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < array.size(); ++i)
        out.push_back(text(array[i], where + "/" + std::to_string(i)));
    return out;
}

std::vector<farm::Account> accountsFromJson(const Json& array, const std::string& where) {
    std::vector<farm::Account> accounts;
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string at = where + "/" + std::to_string(i);
        const Json& json = array[i];
        expect(json, Json::value_t::object, at, "an object");
        onlyKeys(json, {"accountType", "authorityType", "authorityName", "name"}, at);
        farm::Account account;
        account.accountType = number(member(json, "accountType", at), at + "/accountType");
        account.authorityType = number(member(json, "authorityType", at), at + "/authorityType");
        account.authorityName = optionalText(json, "authorityName", at);
        account.name = text(member(json, "name", at), at + "/name");
        check(farm::checkAccount(account), at);
        accounts.push_back(std::move(account));
    }
    return accounts;
}

farm::Application applicationFromJson(const Json& json, const std::string& at) {
    expect(json, Json::value_t::object, at, "an object");
    onlyKeys(json,
             {"distinguishedName", "type", "description", "settings", "servers", "users", "groups",
              "icon"},
             at);
    farm::Application app;
    const std::string dnAt = at + "/distinguishedName";
    const std::string dn = text(member(json, "distinguishedName", at), dnAt);
    auto segments = farm::splitDistinguishedName(dn);
    if (!segments)
        mistake(dnAt, segments.status().message());
    if (segments->empty())
        mistake(dnAt, "\"" + dn + "\" names the root folder, not an application.");
    app.name = segments->back();
    app.folder = dn.substr(0, dn.size() - app.name.size() - 1);
    if (auto type = json.find("type"); type != json.end())
        app.type = number(*type, at + "/type");
    if (!farm::isMember(farm::kObjectType, app.type))
        mistake(at + "/type", "The application type " + std::to_string(app.type) +
                                  " is not valid: " + farm::describeRange(farm::kObjectType) + ".");
    app.description = optionalText(json, "description", at);
    if (auto settings = json.find("settings"); settings != json.end())
        settingsFromJson(*settings, app.settings, farm::findAppSetting, at + "/settings");
    app.servers = names(optionalArray(json, "servers", at), at + "/servers");
    app.users = accountsFromJson(optionalArray(json, "users", at), at + "/users");
    app.groups = accountsFromJson(optionalArray(json, "groups", at), at + "/groups");
    app.icon = farm::Bytes();
    if (auto icon = json.find("icon"); icon != json.end() && !icon->is_null()) {
        auto bytes = fromBase64(text(*icon, at + "/icon"));
        if (!bytes)
            mistake(at + "/icon", "the icon is not valid base64.");
        check(farm::checkIcon(*bytes), at + "/icon");
        app.icon = std::move(*bytes);
    }
    return app;
}

// The JSON pointer of the first string (or key) in `json` that is not valid UTF-8.
std::string firstInvalidText(const Json& json, const std::string& where = "") {
    const auto valid = [](const std::string& text) {
        try {
            (void)Json(text).dump();
            return true;
        } catch (const Json::type_error&) {
            return false;
        }
    };
    if (json.is_string())
        return valid(json.get_ref<const std::string&>()) ? std::string()
               : where.empty()                           ? "/"
                                                         : where;
    if (json.is_object()) {
        for (auto it = json.begin(); it != json.end(); ++it) {
            if (!valid(it.key()))
                return where + "/" + it.key();
            if (std::string at = firstInvalidText(*it, where + "/" + it.key()); !at.empty())
                return at;
        }
    } else if (json.is_array()) {
        for (std::size_t i = 0; i < json.size(); ++i) {
            if (std::string at = firstInvalidText(json[i], where + "/" + std::to_string(i));
                !at.empty())
                return at;
        }
    }
    return {};
}

// Whether `text` is UTF-8 as the JSON writer takes it (RFC 3629: no overlong forms, surrogates
// or code points past U+10FFFF).
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence, and the range of its second byte.
        std::size_t length = 3;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else if (lead < 0xE1 || lead > 0xEF)
            return false;
        if (text.size() - i < length || byte(i + 1) < low || byte(i + 1) > high)
            return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
                return false;
        }
        i += length;
    }
    return true;
}

template <typename Values> bool settingsAreUtf8(const Values& values) {
    for (std::size_t i = 0; i < Values::size(); ++i) {
        if (const auto* text = std::get_if<std::string>(&values.at(i)); text && !isUtf8(*text))
            return false;
    }
    return true;
}

bool allUtf8(const std::vector<std::string>& texts) {
    return std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return isUtf8(t); });
}

bool accountsAreUtf8(const std::vector<farm::Account>& accounts) {
    return std::all_of(accounts.begin(), accounts.end(), [](const farm::Account& a) {
        return isUtf8(a.authorityName) && isUtf8(a.name);
    });
}

// Whether every text of the farm's dump is UTF-8: a distinguished name's folder and name are looked
// at apart, which comes to the same (a part that is not UTF-8 is not made so by the "/" between).
bool isUtf8(const farm::FarmImage& image) {
    const bool farmIs = isUtf8(image.farm.name) && settingsAreUtf8(image.farm.settings) &&
                        allUtf8(image.administrators) && allUtf8(image.folders);
    const bool placesAre =
        std::all_of(
            image.zones.begin(), image.zones.end(),
            [](const farm::Zone& z) { return isUtf8(z.name) && isUtf8(z.dataCollector); }) &&
        std::all_of(image.servers.begin(), image.servers.end(),
                    [](const farm::Server& s) { return isUtf8(s.name) && isUtf8(s.zone); });
    return farmIs && placesAre &&
           std::all_of(image.applications.begin(), image.applications.end(),
                       [](const farm::Application& app) {
                           return isUtf8(app.name) && isUtf8(app.folder) &&
                                  isUtf8(app.description) && settingsAreUtf8(app.settings) &&
                                  allUtf8(app.servers) && accountsAreUtf8(app.users) &&
                                  accountsAreUtf8(app.groups);
                       });
}

farm::FarmImage imageFromJson(const Json& root) {
    expect(root, Json::value_t::object, "", "an object");
    onlyKeys(root,
             {"format", "version", "farm", "administrators", "zones", "servers", "folders",
              "applications"},
             "");
    if (auto format = root.find("format");
        format != root.end() && text(*format, "/format") != kFormat)
        mistake("/format", "this is not a farm dump (\"" + format->get<std::string>() + "\").");
    if (auto version = root.find("version");
        version != root.end() && number(*version, "/version") != kVersion)
        mistake("/version", "version " + version->dump() + " is not known; qvfarm reads version " +
                                std::to_string(kVersion) + ".");

    farm::FarmImage image;
    const Json& farmJson = member(root, "farm", "");
    expect(farmJson, Json::value_t::object, "/farm", "an object");
    onlyKeys(farmJson, {"name", "reportsSessionReliability", "settings"}, "/farm");
    image.farm.name = text(member(farmJson, "name", "/farm"), "/farm/name");
    if (image.farm.name.empty())
        mistake("/farm/name", "the farm name must not be empty.");
    if (auto reports = farmJson.find("reportsSessionReliability"); reports != farmJson.end()) {
        expect(*reports, Json::value_t::boolean, "/farm/reportsSessionReliability",
               "true or false");
        image.farm.reportsSessionReliability = reports->get<bool>();
    }
    if (auto settings = farmJson.find("settings"); settings != farmJson.end()) {
        settingsFromJson(*settings, image.farm.settings, farm::findFarmSetting, "/farm/settings");
        if (!image.farm.reportsSessionReliability) {
            for (std::size_t i = 0; i < farm::kFarmSettingCount; ++i) {
                const auto id = static_cast<farm::FarmSetting>(i);
                const std::string name(farm::definition(id).name);
                if (farm::isSessionReliability(id) && settings->contains(name))
                    mistake("/farm/settings/" + name,
                            "the farm does not report session reliability settings.");
            }
        }
    }

    image.administrators = names(optionalArray(root, "administrators", ""), "/administrators");
    const Json& zones = optionalArray(root, "zones", "");
    for (std::size_t i = 0; i < zones.size(); ++i) {
        const std::string at = "/zones/" + std::to_string(i);
        expect(zones[i], Json::value_t::object, at, "an object");
        onlyKeys(zones[i], {"name", "dataCollector"}, at);
        image.zones.push_back({text(member(zones[i], "name", at), at + "/name"),
                               optionalText(zones[i], "dataCollector", at)});
    }
    const Json& servers = optionalArray(root, "servers", "");
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const std::string at = "/servers/" + std::to_string(i);
        expect(servers[i], Json::value_t::object, at, "an object");
        onlyKeys(servers[i], {"name", "zone", "osVersion"}, at);
        farm::Server server;
        server.name = text(member(servers[i], "name", at), at + "/name");
        server.zone = text(member(servers[i], "zone", at), at + "/zone");
        const Json& version = member(servers[i], "osVersion", at);
        expect(version, Json::value_t::object, at + "/osVersion", "an object");
        onlyKeys(version, {"major", "minor"}, at + "/osVersion");
        server.osMajor =
            number(member(version, "major", at + "/osVersion"), at + "/osVersion/major");
        server.osMinor =
            number(member(version, "minor", at + "/osVersion"), at + "/osVersion/minor");
        image.servers.push_back(std::move(server));
    }
    image.folders = names(optionalArray(root, "folders", ""), "/folders");
    for (std::size_t i = 0; i < image.folders.size(); ++i) {
        if (auto segments = farm::splitDistinguishedName(image.folders[i]); !segments)
            mistake("/folders/" + std::to_string(i), segments.status().message());
    }
    const Json& apps = optionalArray(root, "applications", "");
    for (std::size_t i = 0; i < apps.size(); ++i)
        image.applications.push_back(
            applicationFromJson(apps[i], "/applications/" + std::to_string(i)));
    return image;
}

// Builds the document of a farm's text from the parser's events, but for the elements of its
// "applications": each of those is built alone and made into an application as soon as it is
// whole, so that the text of a farm of any size is held as one application's document at a time
// beside the farm (a whole document took about 9 KB per application). What the whole document's
// checks would say is kept: a key given twice, malformed text and numbers no double can hold stop
// the reading where they stand; the first mistake in an application waits until the text is read
// to its end (malformed text after it is said first) and the rest of the document is checked
// (a mistake there is said first, as the document's members are checked before its
// applications).
class FarmReader {
public:
    // A mistake found while the text was read: a key given twice, or the parser's own.
    std::optional<Mistake> stopped;
    std::optional<std::string> parseError;

    bool null() { return value(nullptr); }
    bool boolean(bool b) { return value(b); }
    bool number_integer(Json::number_integer_t n) { return value(n); }
    bool number_unsigned(Json::number_unsigned_t n) { return value(n); }
    bool number_float(Json::number_float_t n, const Json::string_t&) { return value(n); }
    bool string(Json::string_t& s) { return value(std::move(s)); }
    bool binary(Json::binary_t& b) { return value(Json::binary(std::move(b))); }

    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool key(Json::string_t& key) {
        Open& object = open_.back();
        object.lastKey = key;
        if (!object.keys.insert(key).second) {
            const std::string where = pointer();
            stopped =
                Mistake{where.empty() ? "/" : where, "the key \"" + key + "\" appears twice."};
            return false;
        }
        element_ = &(*containers_.back())[key];
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    template <typename Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& e) {
        parseError = e.what();
        return false;
    }

    // The farm read, once the text was read whole without a stop.
    farm::FarmImage image() {
        farm::FarmImage image = imageFromJson(root_);
        if (applicationMistake_)
            throw *applicationMistake_;
        image.applications = std::move(applications_);
        return image;
    }

private:
    // An object or array open in the text, for the place of a key given twice.
    struct Open {
        bool isObject;
        std::set<std::string> keys;
        std::string lastKey;
        std::size_t elements;
    };

    // Counts a value (a container's start too) as an element of the array it is in.
    void counted() {
        if (!open_.empty() && !open_.back().isObject)
            ++open_.back().elements;
    }

    // Where a value goes: the root, an object's member named by its key, an array's end; an
    // element of the applications goes into the application's own document.
    Json* place(Json&& value) {
        counted();
        if (containers_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& container = *containers_.back();
        if (&container == applications_json_) {
            application_ = std::move(value);
            return &application_;
        }
        if (container.is_object()) {
            *element_ = std::move(value);
            return element_;
        }
        container.push_back(std::move(value));
        return &container.back();
    }

    template <typename Value> bool value(Value&& v) {
        Json* at = place(Json(std::forward<Value>(v)));
        if (at == &application_)
            applicationDone();
        return true;
    }

    bool open(bool isObject) {
        // The root object's "applications" array: its elements are read one at a time.
        const bool applications = !isObject && open_.size() == 1 && open_[0].isObject &&
                                  open_[0].lastKey == "applications";
        Json* container = place(isObject ? Json::object() : Json::array());
        if (applications)
            applications_json_ = container;
        containers_.push_back(container);
        open_.push_back({isObject, {}, {}, 0});
        return true;
    }

    bool close() {
        const bool application = containers_.back() == &application_;
        if (containers_.back() == applications_json_)
            applications_json_ = nullptr; // its place may hold another value later
        containers_.pop_back();
        open_.pop_back();
        if (application)
            applicationDone();
        return true;
    }

    // An application's document is whole: made into an application, unless one before it was
    // mistaken (the rest are only read, for what the text may say after them).
    void applicationDone() {
        const std::size_t index = applicationCount_++;
        if (!applicationMistake_) {
            try {
                applications_.push_back(
                    applicationFromJson(application_, "/applications/" + std::to_string(index)));
            } catch (const Mistake& m) {
                applicationMistake_ = m;
                applications_ = {};
            }
        }
        application_ = Json();
    }

    // The JSON pointer of the innermost open object.
    std::string pointer() const {
        std::string where;
        for (std::size_t i = 0; i + 1 < open_.size(); ++i)
            where += "/" +
                     (open_[i].isObject ? open_[i].lastKey : std::to_string(open_[i].elements - 1));
        return where;
    }

    Json root_;
    std::vector<Json*> containers_;
    std::vector<Open> open_;
    Json* element_ = nullptr;
    const Json* applications_json_ = nullptr;
    Json application_;
    std::size_t applicationCount_ = 0;
    std::vector<farm::Application> applications_;
    std::optional<Mistake> applicationMistake_;
};

} // namespace

farm::Status writeFarmJson(const farm::FarmImage& image,
                           const std::function<bool(std::string_view)>& write) {
    Json root;
    root["format"] = kFormat;
    root["version"] = kVersion;
    root["farm"] = {{"name", image.farm.name},
                    {"reportsSessionReliability", image.farm.reportsSessionReliability},
                    {"settings", settingsToJson(image.farm.settings, [&](std::size_t i) {
                         return !image.farm.reportsSessionReliability &&
                                farm::isSessionReliability(static_cast<farm::FarmSetting>(i));
                     })}};
    root["administrators"] = image.administrators;
    root["zones"] = Json::array();
    for (const farm::Zone& zone : image.zones)
        root["zones"].push_back({{"name", zone.name}, {"dataCollector", zone.dataCollector}});
    root["servers"] = Json::array();
    for (const farm::Server& server : image.servers)
        root["servers"].push_back(
            {{"name", server.name},
             {"zone", server.zone},
             {"osVersion", {{"major", server.osMajor}, {"minor", server.osMinor}}}});
    root["folders"] = image.folders;
    // Text the store holds that is not UTF-8 (written by something else, or damaged) is found
    // before a byte is written, and the whole document is made to say where.
    const auto damaged = [&] {
        root["applications"] = Json::array();
        for (const farm::Application& app : image.applications)
            root["applications"].push_back(applicationToJson(app));
        return Status::corrupt("it holds text that is not valid UTF-8 (" + firstInvalidText(root) +
                               ").");
    };
    if (!isUtf8(image))
        return damaged();
    // The applications are written one at a time, where a stand-in stands in the text of the rest
    // of the document: the whole farm as one document took about 25 KB per application beside
    // the text (2.5 GB for 100,000 applications), and the text itself is not held either. The
    // stand-in is found by its key and the lines around it, which no text inside a string can
    // make (a line break in a string is written as \n).
    constexpr std::string_view kStandIn = "applications go here";
    root["applications"] = Json::array();
    if (!image.applications.empty())
        root["applications"].push_back(kStandIn);
    const auto cannotWrite = [] { return Status::ioError("the dump could not be written."); };
    try {
        const std::string text = root.dump(2) + "\n";
        if (image.applications.empty())
            return write(text) ? Status::ok() : cannotWrite();
        const std::string element = "\n    \"" + std::string(kStandIn) + "\"\n";
        const std::size_t at = text.find("\"applications\": [" + element);
        if (at == std::string::npos)
            return Status::internal("the dump lost its place for the applications.");
        const std::size_t from = text.find(element, at);
        if (!write(std::string_view(text).substr(0, from)))
            return cannotWrite();
        std::string piece;
        for (std::size_t i = 0; i < image.applications.size(); ++i) {
            // An element of the array: its lines indented by the array's depth, as dump(2)
            // writes a document's nested values.
            const std::string one = applicationToJson(image.applications[i]).dump(2);
            piece = i == 0 ? "\n    " : ",\n    ";
            for (std::size_t line = 0; line < one.size();) {
                const std::size_t end = std::min(one.find('\n', line), one.size() - 1) + 1;
                piece.append(one, line, end - line);
                if (one[end - 1] == '\n')
                    piece += "    ";
                line = end;
            }
            if (!write(piece))
                return cannotWrite();
        }
        if (!write("\n") || !write(std::string_view(text).substr(from + element.size())))
            return cannotWrite();
        return Status::ok();
    } catch (const Json::type_error&) {
        return damaged(); // text isUtf8 let through: never written, as it is found first
    }
}

farm::Result<std::string> farmToJson(const farm::FarmImage& image) {
    std::string text;
    const Status written = writeFarmJson(image, [&text](std::string_view piece) {
        text += piece;
        return true;
    });
    if (!written)
        return written;
    return text;
}

namespace {

// Reads a farm's text from `input` (a text in memory or a stream) with FarmReader.
template <typename Parse> farm::Result<farm::FarmImage> readFarm(Parse parse) {
    FarmReader reader;
    try {
        parse(reader);
        if (reader.stopped)
            return Status::invalidArgument(reader.stopped->where + ": " + reader.stopped->what);
        if (reader.parseError) {
            // Malformed text, and numbers no double can hold ("1e999").
            std::string what = *reader.parseError;
            if (auto end = what.find("] ");
                what.rfind("[json.exception", 0) == 0 && end != std::string::npos)
                what = what.substr(end + 2);
            return Status::invalidArgument(what);
        }
        return reader.image();
    } catch (const Mistake& m) {
        return Status::invalidArgument(m.where + ": " + m.what);
    }
}

} // namespace

farm::Result<farm::FarmImage> farmFromJson(std::string_view text) {
    return readFarm(
        [&](FarmReader& reader) { return Json::sax_parse(text.begin(), text.end(), &reader); });
}

farm::Result<farm::FarmImage> farmFromJson(std::istream& in) {
    return readFarm([&](FarmReader& reader) { return Json::sax_parse(in, &reader); });
}

} // namespace sky::qvfarm
