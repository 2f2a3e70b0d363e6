#include "definitions/file_system.h"

#include <windows.h>

#include "core/runtime_errors.h"
#include "sky/machine.h"
#include "sky/text.h"

namespace brask {

namespace fs = std::filesystem;

namespace {

std::u16string withoutTrailingBackslash(std::u16string path) {
    while (!path.empty() && path.back() == u'\\') {
        path.pop_back();
    }
    return path;
}

// A Windows call that fills a buffer and returns the length, or the size needed.
template <class Call> std::u16string bufferText(Call call) {
    std::u16string text(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length = call(static_cast<DWORD>(text.size()), text.data());
        if (length == 0) {
            throw runtimeError(kPathNotFound);
        }
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length);
    }
}

} // namespace

fs::path hostPath(std::u16string_view windowsPath) {
    std::optional<fs::path> host = sky::machine::toHostPath(windowsPath);
    if (!host) {
        throw runtimeError(kPathNotFound);
    }
    return *host;
}

ToolError fileError(const std::error_code& error, const fs::path& host) {
    const std::errc condition = static_cast<std::errc>(error.value());
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        switch (condition) {
        case std::errc::no_such_file_or_directory: {
            std::error_code ignored;
            const fs::path folder = host.parent_path();
            return runtimeError(folder.empty() || fs::is_directory(folder, ignored)
                                    ? kFileNotFound
                                    : kPathNotFound);
        }
        case std::errc::not_a_directory:
            return runtimeError(kPathNotFound);
        case std::errc::permission_denied:
        case std::errc::operation_not_permitted:
        case std::errc::read_only_file_system:
            return runtimeError(kPermissionDenied);
        case std::errc::filename_too_long:
        case std::errc::invalid_argument:
            return runtimeError(kBadFileName);
        default:
            break;
        }
    }
    return runtimeError(kPathFileAccessError);
}

std::u16string workingDirectory() {
    return withoutTrailingBackslash(
        bufferText([](DWORD size, LPWSTR buffer) { return GetCurrentDirectoryW(size, buffer); }));
}

std::u16string temporaryFolder() {
    return withoutTrailingBackslash(
        bufferText([](DWORD size, LPWSTR buffer) { return GetTempPathW(size, buffer); }));
}

bool isFileName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") {
        return false;
    }
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F ||
            std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) {
            return false;
        }
    }
    return true;
}

bool folderExists(std::u16string_view folder) {
    std::error_code ignored;
    return fs::is_directory(hostPath(folder), ignored);
}

void createFolder(std::u16string_view folder) {
    const fs::path host = hostPath(folder);
    std::error_code error;
    if (!fs::create_directory(host, error) && error) {
        throw fileError(error, host / "x");
    }
}

void deleteFilesWithExtension(std::u16string_view folder, std::u16string_view extension) {
    const fs::path host = hostPath(folder);
    std::error_code error;
    fs::directory_iterator entries(host, error);
    if (error) {
        throw fileError(error, host);
    }
    const std::u16string wanted = sky::upper(extension);
    for (const fs::directory_entry& entry : entries) {
        std::error_code kind;
        if (!entry.is_regular_file(kind)) {
            continue;
        }
        const std::u16string name = sky::upper(sky::widen(entry.path().filename().string()));
        if (name.size() > wanted.size() && name.ends_with(wanted)) {
            if (!fs::remove(entry.path(), error) && error) {
                throw fileError(error, entry.path());
            }
        }
    }
}

void copyFile(std::u16string_view from, std::u16string_view to) {
    const fs::path source = hostPath(from);
    const fs::path target = hostPath(to);
    std::error_code error;
    if (!fs::is_regular_file(source, error)) {
        throw fileError(error ? error : std::make_error_code(std::errc::no_such_file_or_directory),
                        source);
    }
    if (!fs::copy_file(source, target, fs::copy_options::overwrite_existing, error)) {
        throw fileError(error, target);
    }
}

void deleteFile(std::u16string_view path) {
    const fs::path host = hostPath(path);
    std::error_code error;
    if (!fs::remove(host, error)) {
        throw fileError(error ? error : std::make_error_code(std::errc::no_such_file_or_directory),
                        host);
    }
}

} // namespace brask
