// reg export KEY FILE [/y] and reg import FILE: a key's tree to a registry script and back.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "console.h"
#include "keyname.h"
#include "operations.h"
#include "script.h"
#include "sky/bounded_read.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "switches.h"
#include "values.h"
#include "win/errors.h"

namespace reg {

namespace {

LONG writeTree(HKEY top, const KeyName& topName, ScriptWriter& script) {
    return walkTree(top, topName, [&](HKEY key, const KeyName& name) -> LONG {
        std::vector<ScriptValue> values;
        if (LONG status = readValues(key, values))
            return status;
        script.key(name.full());
        for (const auto& value : values)
            script.value(value);
        return ERROR_SUCCESS;
    });
}

// Keeps the key the last entries of a script named open, so a run of values writes through one
// handle.
class ScriptTarget {
public:
    LONG open(const KeyName& name) {
        const std::u16string full = sky::upper(name.full());
        if (key_ && full == current_)
            return ERROR_SUCCESS;
        key_.reset();
        current_.clear();
        if (LONG status =
                RegCreateKeyExW(name.root, name.subKey.c_str(), 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key_.put(), nullptr))
            return status;
        current_ = full;
        return ERROR_SUCCESS;
    }
    void forget() { key_.reset(); }
    HKEY get() const { return key_.get(); }

private:
    sky::registry::Key key_;
    std::u16string current_;
};

LONG apply(const ScriptEntry& entry, const KeyName& name, ScriptTarget& target) {
    switch (entry.kind) {
    case ScriptEntry::Kind::Key:
        return target.open(name);
    case ScriptEntry::Kind::DeleteKey: {
        target.forget();
        const LONG status = SHDeleteKeyW(name.root, name.subKey.c_str());
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    case ScriptEntry::Kind::Value:
        if (LONG status = target.open(name))
            return status;
        return writeValue(target.get(), entry.value);
    case ScriptEntry::Kind::DeleteValue: {
        if (LONG status = target.open(name))
            return status;
        const LONG status = RegDeleteValueW(target.get(), entry.value.name.c_str());
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    }
    return ERROR_SUCCESS;
}

} // namespace

int exportKey(const Arguments& arguments) {
    constexpr std::u16string_view operation = u"EXPORT";
    Switches switches;
    if (auto done = start(arguments, operation, {{u"y", false}}, 2, switches))
        return *done;
    KeyName name;
    if (auto done = keyOperand(switches, 0, operation, name))
        return *done;
    const std::u16string& fileName = switches.operands()[1];
    const auto file = sky::machine::toHostPath(fileName);
    if (!file)
        return failedWith(u"The file name " + fileName + u" is not on this machine's drives.");

    sky::registry::Key key;
    if (LONG status = RegOpenKeyExW(name.root, name.subKey.c_str(), 0, KEY_READ, key.put()))
        return failed(status);
    ScriptWriter script;
    if (LONG status = writeTree(key.get(), name, script))
        return failed(status);
    std::error_code error;
    if (std::filesystem::exists(*file, error) && !switches.has(u"y") &&
        !confirm(u"File " + fileName + u" already exists, overwrite"))
        return canceled();
    const std::string bytes = encodeScript(script.text());
    std::ofstream out(*file, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush())
        return failedWith(u"The file " + fileName + u" cannot be written.");
    return succeeded();
}

int importScript(const Arguments& arguments) {
    constexpr std::u16string_view operation = u"IMPORT";
    Switches switches;
    if (auto done = start(arguments, operation, {}, 1, switches))
        return *done;
    const std::u16string& fileName = switches.operands()[0];
    const auto file = sky::machine::toHostPath(fileName);
    std::ifstream in;
    if (file)
        in.open(*file, std::ios::binary);
    if (!in)
        return failedWith(u"The file " + fileName + u" cannot be opened.");
    const auto read = sky::readAtMost(in, sky::kMaxDataFileBytes);
    if (!read)
        return failedWith(u"The file " + fileName + u" is larger than " +
                          sky::widen(sky::sizeInWords(sky::kMaxDataFileBytes)) +
                          u"; it is not a registry script.");
    const std::string& bytes = *read;

    int line = 0;
    std::string problem;
    const auto entries = parseScript(decodeScript(bytes), line, problem);
    if (!entries)
        return failedWith(u"The file " + fileName + u" is not a registry script: line " +
                          sky::widen(std::to_string(line)) + u": " + sky::widen(problem) + u".");
    ScriptTarget target;
    for (const auto& entry : *entries) {
        KeyName name;
        if (!parseKeyName(entry.key, name))
            return failedWith(u"Line " + sky::widen(std::to_string(entry.line)) + u" of " +
                              fileName + u" names the key " + entry.key +
                              u", which is not a key name.");
        if (LONG status = apply(entry, name, target))
            return failedWith(u"Line " + sky::widen(std::to_string(entry.line)) + u" of " +
                              fileName + u": " + errorText(status));
    }
    return succeeded();
}

} // namespace reg
