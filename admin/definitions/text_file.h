// Text files in the machine's ANSI code page, as the definition file and the server snapshot are:
// no byte-order mark, every line ended by CR LF.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

#include "win/types.h"

namespace brask {

// Lines written one at a time into a file that is created, or emptied when it exists. Whatever
// was written stays in the file when the writer goes, also after a failure.
class AnsiTextWriter {
public:
    // Throws ToolError (76, 70, 75, ...) when the file cannot be opened for writing.
    explicit AnsiTextWriter(std::u16string_view path);

    // The line and CR LF. False, and nothing written, when the code page cannot hold every
    // character of the line.
    [[nodiscard]] bool writeLine(std::u16string_view line);
    // Whether writeLine would take the line: the code page holds every character of it.
    bool canHold(std::u16string_view line) const;
    // An empty line.
    void writeEmptyLine();
    // Writes out what is buffered and closes the file; throws ToolError 75 when the system could
    // not take it all.
    void close();

    UINT codePage() const { return codePage_; }

private:
    std::ofstream file_;
    UINT codePage_;
    std::string bytes_;
};

// Lines read one at a time. A line ends with CR LF or with LF alone; the line end is not part of
// the line. A last line without a line end is a line too.
class AnsiTextReader {
public:
    // Throws ToolError 53 for a missing file, 76 for a missing folder, 70 or 75 otherwise.
    explicit AnsiTextReader(std::u16string_view path);

    bool atEnd() const { return next_ >= text_.size(); }
    // The next line; empty at the end.
    std::u16string readLine();

private:
    std::string text_;
    std::size_t next_ = 0;
    UINT codePage_;
};

// Text in a code page, and back; plain ASCII is taken as it is, without a conversion.
std::string encodeAnsi(std::u16string_view text, UINT codePage, bool& lossy);
std::u16string decodeAnsi(std::string_view bytes, UINT codePage);

} // namespace brask
