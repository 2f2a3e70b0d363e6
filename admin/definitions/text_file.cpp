#include "definitions/text_file.h"

#include <algorithm>
#include <iterator>

#include <windows.h>

#include "core/runtime_errors.h"
#include "definitions/file_system.h"
#include "sky/codepage.h"

namespace brask {

namespace {

bool isAscii(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The system's reason for the last failed open of `host`.
ToolError openError(const std::filesystem::path& host) {
    const int error = errno;
    std::error_code ignored;
    if (std::filesystem::is_directory(host, ignored)) {
        return runtimeError(kPathFileAccessError);
    }
    return fileError(std::error_code(error ? error : ENOENT, std::generic_category()), host);
}

} // namespace

std::string encodeAnsi(std::u16string_view text, UINT codePage, bool& lossy) {
    lossy = false;
    if (isAscii(text)) {
        return std::string(text.begin(), text.end());
    }
    return sky::toAnsi(text, codePage, &lossy);
}

std::u16string decodeAnsi(std::string_view bytes, UINT codePage) {
    if (isAscii(bytes)) {
        return std::u16string(bytes.begin(), bytes.end());
    }
    return sky::fromAnsi(bytes, codePage);
}

AnsiTextWriter::AnsiTextWriter(std::u16string_view path) : codePage_(GetACP()) {
    const std::filesystem::path host = hostPath(path);
    errno = 0;
    file_.open(host, std::ios::binary | std::ios::trunc);
    if (!file_) {
        throw openError(host);
    }
}

bool AnsiTextWriter::writeLine(std::u16string_view line) {
    bool lossy = false;
    bytes_ = encodeAnsi(line, codePage_, lossy);
    if (lossy) {
        return false;
    }
    bytes_ += "\r\n";
    file_.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    return true;
}

bool AnsiTextWriter::canHold(std::u16string_view line) const {
    bool lossy = false;
    encodeAnsi(line, codePage_, lossy);
    return !lossy;
}

void AnsiTextWriter::writeEmptyLine() {
    file_.write("\r\n", 2);
}

void AnsiTextWriter::close() {
    file_.close();
    if (file_.fail()) {
        throw runtimeError(kPathFileAccessError);
    }
}

AnsiTextReader::AnsiTextReader(std::u16string_view path) : codePage_(GetACP()) {
    const std::filesystem::path host = hostPath(path);
    std::error_code ignored;
    if (std::filesystem::is_directory(host, ignored)) {
        throw runtimeError(kPathFileAccessError);
    }
    errno = 0;
    std::ifstream file(host, std::ios::binary);
    if (!file) {
        throw openError(host);
    }
    text_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) {
        throw runtimeError(kPathFileAccessError);
    }
}

std::u16string AnsiTextReader::readLine() {
    if (atEnd()) {
        return {};
    }
    std::size_t end = text_.find('\n', next_);
    const std::size_t following = end == std::string::npos ? text_.size() : end + 1;
    if (end == std::string::npos) {
        end = text_.size();
    }
    if (end > next_ && text_[end - 1] == '\r') {
        --end;
    }
    const std::string_view line(text_.data() + next_, end - next_);
    next_ = following;
    return decodeAnsi(line, codePage_);
}

} // namespace brask
