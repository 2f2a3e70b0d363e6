// Fuzz target: a farm definition file as BraskAdmin's import reads it, into a served farm through
// the real object model. Whatever the file holds, the import ends (finished or with its error
// report) and the farm store reads back whole. Each line is also held to the file's own rules: a
// key line is its key, "=" and its value; a line holds no line feed; a number read is written back
// as the same number; an account written and read is the same account; a value made one line has no
// line break.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/admin_state.h"
#include "core/tool_error.h"
#include "definitions/definition_file.h"
#include "definitions/definitions_fuzz_support.h"
#include "definitions/import_farm.h"
#include "definitions/text_file.h"

namespace {

using namespace brask;
using namespace brask::fuzzing;

FuzzMachine& machine() {
    static FuzzMachine instance(smallFarm("Target"), 64);
    return instance;
}

void checkLine(std::u16string_view line) {
    using namespace brask::definition;
    // A line ends at CR LF or LF; a lone CR stays part of the line.
    if (line.find(u'\n') != std::u16string_view::npos)
        fail("a line read holds a line feed");
    if (oneLine(line).find_first_of(u"\r\n") != std::u16string::npos)
        fail("oneLine left a line break");
    headerSection(line);
    const auto keyLine = splitKeyLine(line);
    if (!keyLine)
        return;
    if (keyLine->key.empty() ||
        std::u16string(keyLine->key) + u"=" + std::u16string(keyLine->value) != line)
        fail("a key line is not its key, \"=\" and its value");
    try {
        const std::int32_t read = number(keyLine->value);
        if (number(decimal(read)) != read)
            fail("a number written does not read back the same");
        bytesFromKilobytes(keyLine->value);
    } catch (const ToolError&) {
    }
    try {
        const Account account = parseAccount(keyLine->value);
        if (account.authorityName.find(u':') == std::u16string::npos &&
            account.name.find(u':') == std::u16string::npos) {
            const Account again = parseAccount(accountValue(account));
            if (again.accountType != account.accountType ||
                again.authorityType != account.authorityType ||
                again.authorityName != account.authorityName || again.name != account.name)
                fail("an account written does not read back the same");
        }
    } catch (const ToolError&) {
    }
    withoutRootFolder(keyLine->value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzMachine& m = machine();
    const std::u16string& path = m.write(data, size);
    try {
        AnsiTextReader file(path);
        while (!file.atEnd())
            checkLine(file.readLine());
    } catch (const ToolError&) {
    }
    {
        AdminState state;
        QuietFeedback feedback;
        importFarm(state, feedback, path);
    }
    m.afterInput();
    return 0;
}
