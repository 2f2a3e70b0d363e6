// The process's table of modules: every handle that LoadLibraryW, LoadLibraryExW and
// GetModuleHandleW give out names one record here, and every function that takes a module handle
// finds its record through this table.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sky/resources.h"
#include "win/types.h"

namespace sky::module {

enum class Kind {
    Program,       // the running program itself
    Image,         // a module whose code is loaded (dlopen)
    DataFile,      // LOAD_LIBRARY_AS_DATAFILE: resources only, handle tagged with 1
    ImageResource, // LOAD_LIBRARY_AS_IMAGE_RESOURCE: resources only, handle tagged with 2
};

class Module {
public:
    Module(Kind kind, std::filesystem::path file, void* library);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    Kind kind() const { return kind_; }
    bool runsCode() const { return kind_ == Kind::Program || kind_ == Kind::Image; }
    const std::filesystem::path& file() const { return file_; }
    // The dynamic loader's handle (Program and Image only).
    void* library() const { return library_; }
    HMODULE handle() const;

    // The module's resources, read from its file on first use. Null, with the Win32 error to
    // report, when the file cannot be read or its resource section is damaged.
    const resources::Directory* resources(DWORD& error);
    // Reads the resources now; a data-file load fails when this does.
    resources::ReadStatus readResources();

private:
    friend class Table;
    const Kind kind_;
    const std::filesystem::path file_;
    void* const library_;
    unsigned references_ = 1;
    bool pinned_ = false; // never unloaded: the program and modules the dynamic loader brought in
    std::once_flag readOnce_;
    resources::ReadStatus readStatus_ = resources::ReadStatus::Ok;
    resources::Directory directory_;
};

using ModulePtr = std::shared_ptr<Module>;

// Process-wide; every member is safe to call from any thread. No lock is held while the dynamic
// loader runs, so module constructors may load and free modules themselves.
class Table {
public:
    static Table& instance();

    // The record for `handle` (null names the program), or null when it names no live module.
    ModulePtr find(HMODULE handle);
    ModulePtr program();

    // Records one more dlopen reference of `library` (loaded from `file`) and returns its
    // module: the existing record when the dynamic loader already had it, else a new one.
    ModulePtr addImage(void* library, const std::filesystem::path& file, bool pinned = false);
    // A new record for a module mapped for its resources only.
    ModulePtr addResourceOnly(Kind kind, std::filesystem::path file);
    // A loaded image whose file's base name equals `fileName`, ignoring case.
    ModulePtr findImageByName(std::u16string_view fileName);
    // A loaded image whose file is `file` (the same file, whatever path names it).
    ModulePtr findImageByFile(const std::filesystem::path& file);

    // Drops one reference. Returns the dlopen handle the caller must close (outside any lock),
    // or null when there is nothing to close. False when `handle` names no live module.
    bool release(HMODULE handle, void*& toClose);
    // Pins the module: it stays loaded for the life of the process.
    void pin(const ModulePtr& module);

private:
    Table() = default;
    ModulePtr findLocked(HMODULE handle);
    std::mutex mutex_;
    std::vector<ModulePtr> modules_;
    ModulePtr program_;
};

} // namespace sky::module
