#include "class_registry.h"

#include <mutex>
#include <unordered_map>

#include "guid_text.h"
#include "sky/registry.h"
#include "win/errors.h"

namespace sky::automation {

namespace {

// Enough for every class of a large library; beyond it the cache starts again.
constexpr std::size_t kMaxReadValues = 4096;

// What class look-ups have read (string values, and whether keys exist), kept while the hive
// stays as it was: every activation by name reads the same few, each read costs queries of the
// hive, and the hive's content mark is cheap to take. Any write to the hive, by any process,
// empties it.
struct ReadValues {
    std::mutex mutex;
    std::optional<sky::registry::ContentMark> mark;
    std::unordered_map<std::u16string, std::optional<std::u16string>> values;
    std::unordered_map<std::u16string, bool> keys;

    // Drops what was read under another mark (or too much of it); false when the hive cannot
    // be read, so nothing may be kept.
    bool validate() {
        const auto now = sky::registry::contentMark();
        if (!now)
            return false;
        if (mark != now || values.size() + keys.size() >= kMaxReadValues) {
            values.clear();
            keys.clear();
            mark = now;
        }
        return true;
    }
};

ReadValues& readValues() {
    static ReadValues* values = new ReadValues; // class look-ups may run at exit
    return *values;
}

bool keyExists(std::u16string_view subkey) {
    const std::u16string path(subkey);
    sky::registry::Key key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
           ERROR_SUCCESS;
}

} // namespace

std::optional<std::u16string> readClassesString(std::u16string_view subkey,
                                                std::u16string_view valueName) {
    ReadValues& cache = readValues();
    std::lock_guard lock(cache.mutex);
    if (!cache.validate())
        return sky::registry::readString(HKEY_CLASSES_ROOT, subkey, valueName);
    std::u16string name(subkey);
    name += u'\0';
    name += valueName;
    if (auto found = cache.values.find(name); found != cache.values.end())
        return found->second;
    auto value = sky::registry::readString(HKEY_CLASSES_ROOT, subkey, valueName);
    cache.values.emplace(std::move(name), value);
    return value;
}

bool classesKeyExists(std::u16string_view subkey) {
    ReadValues& cache = readValues();
    std::lock_guard lock(cache.mutex);
    if (!cache.validate())
        return keyExists(subkey);
    std::u16string name(subkey);
    if (auto found = cache.keys.find(name); found != cache.keys.end())
        return found->second;
    const bool exists = keyExists(subkey);
    cache.keys.emplace(std::move(name), exists);
    return exists;
}

std::u16string classKey(const CLSID& clsid) {
    WCHAR text[guidTextLength + 1];
    formatGuid(clsid, text);
    return u"CLSID\\" + std::u16string(text);
}

} // namespace sky::automation
