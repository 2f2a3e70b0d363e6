// Registry scripts (.reg files): the text that `reg export` writes and `reg import` reads.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Test]
//   @="default value"
//   "Name"="text with \"quotes\" and \\ backslashes"
//   "Number"=dword:0000000a
//   "Data"=hex:01,02,03
//   "List"=hex(7):61,00,00,00,00,00
//
// Binary data is folded at 80 columns with "\" continuations; "[-KEY]" deletes a key and
// "Name"=- a value. Files are UTF-16LE with a byte-order mark; REGEDIT4 files (ANSI, their
// string data in hex in the ANSI code page) are read too.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/types.h"

namespace reg {

struct ScriptValue {
    std::u16string name; // empty: the default value
    DWORD type = 0;
    std::vector<BYTE> data;
    bool exact = false; // given as hex bytes: stored as exactly these bytes, whatever the type
};

// Builds the text of a script, key by key.
class ScriptWriter {
public:
    ScriptWriter();
    // Starts the block of a key; every block ends with an empty line.
    void key(std::u16string_view fullName);
    void value(const ScriptValue& value);
    // The text with CR LF line ends.
    std::u16string text() const { return open_ ? text_ + u"\r\n" : text_; }

private:
    std::u16string text_;
    bool open_ = false;
};

// The bytes of a script file: UTF-16LE with its byte-order mark.
std::string encodeScript(std::u16string_view text);

// The text of a script file: UTF-16 (by its byte-order mark), UTF-8 (by its mark, or valid
// without one), else the machine's ANSI code page.
std::u16string decodeScript(std::string_view bytes);

// One step of a script.
struct ScriptEntry {
    enum class Kind { Key, DeleteKey, Value, DeleteValue };
    Kind kind = Kind::Key;
    std::u16string key; // full key name, for every kind
    ScriptValue value;  // for Value and DeleteValue (name only)
    int line = 0;
};

// Parses a script. On a malformed line returns nullopt with the line number and what is wrong.
std::optional<std::vector<ScriptEntry>> parseScript(std::u16string_view text, int& errorLine,
                                                    std::string& error);

} // namespace reg
