// The file operations of export, import and the server snapshot, on Windows paths as the tool
// sees them (mapped to the host by the platform). Every failure is a ToolError with the runtime's
// number: 53 "File not found", 76 "Path not found", 70 "Permission denied", 75 "Path/File access
// error", 52 "Bad file name or number".
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "core/tool_error.h"

namespace brask {

// The host path behind a Windows path; 76 "Path not found" for a drive or share the machine does
// not have.
std::filesystem::path hostPath(std::u16string_view windowsPath);

// The failure of a file operation on `host`, by the system's error: a missing file is 53 when its
// folder exists and 76 when it does not, a refusal 70, anything else 75.
ToolError fileError(const std::error_code& error, const std::filesystem::path& host);

// The process's current directory and the system's temporary folder, as Windows paths without a
// trailing backslash (a drive's root keeps none either: "C:").
std::u16string workingDirectory();
std::u16string temporaryFolder();

// Whether `name` can be the name of a file on Windows: not empty, no \ / : * ? " < > | or control
// character, and not "." or "..". Trailing dots and blanks are allowed ("Setup..").
bool isFileName(std::u16string_view name);

bool folderExists(std::u16string_view folder);
void createFolder(std::u16string_view folder);
// Deletes the files of `folder` whose names end in `extension` (".ico"), compared without regard
// to case as Windows matches "*.ico". Folders are left alone.
void deleteFilesWithExtension(std::u16string_view folder, std::u16string_view extension);
// Copies a file, replacing the content of a file of the target's name; a new target gets the
// usual mode (0666 less the umask), not the source's. Only a regular file is copied (anything
// else is 53 "File not found"), and at most `limit` bytes of it.
void copyFile(std::u16string_view from, std::u16string_view to,
              std::uintmax_t limit = std::numeric_limits<std::uintmax_t>::max());
// Deletes a file, read-only or not.
void deleteFile(std::u16string_view path);

// A scratch file of the tool's own in the temporary folder (an icon on its way to or from the
// object model): made afresh for this user alone (mode 0600; whatever had its name, a file or a
// link, is removed first and the new file is created exclusively) and removed when the object
// goes, on every path, failures included.
class ScratchFile {
public:
    explicit ScratchFile(std::u16string path);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::u16string& path() const { return path_; }

    // Copies the file at `from` into the scratch file as copyFile does (a regular file only, at
    // most `limit` bytes), through the descriptor the scratch file was made with, in place of
    // what it held: the file is neither opened again nor truncated to nothing, so the file
    // system never has to write the few bytes of a copy that is removed moments later (ext4
    // flushes a file truncated to nothing when it is closed, and a removed file's blocks are
    // freed on the disk). One scratch file thus serves a whole run: making and removing one per
    // icon cost a file system without a journal (which skips inodes freed within the last
    // minute when it makes a file) a search through every one removed before, quadratic in
    // the number of icons.
    void fillFrom(std::u16string_view from,
                  std::uintmax_t limit = std::numeric_limits<std::uintmax_t>::max());

private:
    std::u16string path_;
    std::filesystem::path host_;
    int fd_ = -1;             // open for writing while the scratch file lives
    std::uintmax_t held_ = 0; // bytes the last fillFrom left in it
};

} // namespace brask
