// Compiling a resource script into resources:
//
//   LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US       language of the resources that follow
//   STRINGTABLE [LANGUAGE p, s] [memory flags]      strings, merged per language into blocks
//   BEGIN                                           of sixteen (or { ... })
//       IDS_NAME, "text"                            C escapes; "" is a quote
//   END
//   name TYPE [memory flags] "file"                 a file's bytes as a resource (TYPE a number,
//                                                   RCDATA, HTML, MANIFEST, MESSAGETABLE, or a
//                                                   name such as TYPELIB)
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sky/resources.h"

namespace sky::rc {

struct ScriptOptions {
    std::vector<std::filesystem::path> includeDirs;
    std::map<std::string, std::string> defines;
    WORD language = 0x0409; // until the script says otherwise
};

struct CompiledScript {
    std::vector<resources::Resource> resources;
    std::vector<std::filesystem::path> files; // every file read, for dependency tracking
};

// Compiles the script; throws SourceError ("file:line: message") for a fault in it.
CompiledScript compileScript(const std::filesystem::path& script, const ScriptOptions& options);

// A string-table block as LoadStringW reads it: sixteen counted UTF-16 strings.
std::vector<BYTE> stringBlock(const std::u16string (&strings)[16]);

} // namespace sky::rc
