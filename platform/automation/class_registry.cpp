#include "class_registry.h"

#include <mutex>
#include <unordered_map>

#include "guid_text.h"
#include "sky/registry.h"
#include "win/errors.h"

namespace sky::automation {

namespace {

// The values class look-ups have read, kept while the hive stays as it was: every activation by
// name reads the same few values, and a look-up costs several queries of the hive. Any write to
// the hive, by any process, empties it.
struct ReadValues {
    std::mutex mutex;
    std::optional<sky::registry::ContentMark> mark;
    std::unordered_map<std::u16string, std::optional<std::u16string>> values;
};

// Enough for every class of a large library; beyond it the cache starts again.
constexpr std::size_t kMaxReadValues = 4096;

ReadValues& readValues() {
    static ReadValues* values = new ReadValues; // class look-ups may run at exit
    return *values;
}

} // namespace

std::optional<std::u16string> readClassesString(std::u16string_view subkey,
                                                std::u16string_view valueName) {
    const auto mark = sky::registry::contentMark();
    if (!mark)
        return sky::registry::readString(HKEY_CLASSES_ROOT, subkey, valueName);
    std::u16string name(subkey);
    name += u'\0';
    name += valueName;

    ReadValues& cache = readValues();
    std::lock_guard lock(cache.mutex);
    if (cache.mark != mark || cache.values.size() >= kMaxReadValues) {
        cache.values.clear();
        cache.mark = mark;
    }
    if (auto found = cache.values.find(name); found != cache.values.end())
        return found->second;
    auto value = sky::registry::readString(HKEY_CLASSES_ROOT, subkey, valueName);
    cache.values.emplace(std::move(name), value);
    return value;
}

bool classesKeyExists(std::u16string_view subkey) {
    const std::u16string path(subkey);
    sky::registry::Key key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
           ERROR_SUCCESS;
}

std::u16string classKey(const CLSID& clsid) {
    WCHAR text[guidTextLength + 1];
    formatGuid(clsid, text);
    return u"CLSID\\" + std::u16string(text);
}

} // namespace sky::automation
