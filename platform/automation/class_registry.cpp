#include "class_registry.h"

#include "guid_text.h"
#include "sky/registry.h"
#include "win/errors.h"

namespace sky::automation {

std::optional<std::u16string> readClassesString(std::u16string_view subkey,
                                                std::u16string_view valueName) {
    return sky::registry::readString(HKEY_CLASSES_ROOT, subkey, valueName);
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
