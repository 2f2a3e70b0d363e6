#include "keyname.h"

#include "sky/text.h"

namespace reg {

namespace {

struct Root {
    const char16_t* abbreviation;
    const char16_t* name;
    HKEY key;
};

const Root* findRoot(std::u16string_view token) {
    static const Root roots[] = {
        {u"HKLM", u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {u"HKCU", u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {u"HKCR", u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {u"HKU", u"HKEY_USERS", HKEY_USERS},
        {u"HKCC", u"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const Root& root : roots) {
        if (sky::equalNoCase(token, root.abbreviation) || sky::equalNoCase(token, root.name))
            return &root;
    }
    return nullptr;
}

} // namespace

std::u16string KeyName::full() const {
    return subKey.empty() ? rootName : rootName + u"\\" + subKey;
}

KeyName KeyName::child(std::u16string_view name) const {
    KeyName key = *this;
    key.subKey = subKey.empty() ? std::u16string(name) : subKey + u"\\" + std::u16string(name);
    return key;
}

bool parseKeyName(std::u16string_view text, KeyName& key) {
    while (!text.empty() && text.back() == u'\\')
        text.remove_suffix(1);
    if (text.empty() || text.front() == u'\\')
        return false; // nothing, or a remote machine (\\machine\HKLM\...)
    const std::size_t cut = text.find(u'\\');
    const Root* root = findRoot(text.substr(0, cut));
    if (!root)
        return false;
    key.root = root->key;
    key.rootName = root->name;
    key.subKey = cut == std::u16string_view::npos ? u"" : std::u16string(text.substr(cut + 1));
    return key.subKey.find(u"\\\\") == std::u16string::npos;
}

} // namespace reg
