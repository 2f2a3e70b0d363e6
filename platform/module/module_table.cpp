#include "module_table.h"

#include <dlfcn.h>

#include <algorithm>

#include "library_search.h"
#include "sky/text.h"
#include "win/errors.h"

namespace fs = std::filesystem;

namespace sky::module {

namespace {

constexpr ULONG_PTR kTagMask = 3;

ULONG_PTR tagOf(Kind kind) {
    switch (kind) {
    case Kind::DataFile:
        return 1;
    case Kind::ImageResource:
        return 2;
    default:
        return 0;
    }
}

} // namespace

Module::Module(Kind kind, fs::path file, void* library)
    : kind_(kind), file_(std::move(file)), library_(library) {}

HMODULE Module::handle() const {
    return reinterpret_cast<HMODULE>(reinterpret_cast<ULONG_PTR>(this) | tagOf(kind_));
}

resources::ReadStatus Module::readResources() {
    std::call_once(readOnce_, [this] { readStatus_ = resources::readModule(file_, directory_); });
    return readStatus_;
}

const resources::Directory* Module::resources(DWORD& error) {
    switch (readResources()) {
    case resources::ReadStatus::Ok:
        return &directory_;
    case resources::ReadStatus::CannotOpen:
        error = ERROR_FILE_NOT_FOUND;
        break;
    case resources::ReadStatus::NotModule:
        error = ERROR_BAD_EXE_FORMAT;
        break;
    case resources::ReadStatus::Damaged:
        error = ERROR_INVALID_DATA;
        break;
    }
    return nullptr;
}

Table& Table::instance() {
    static Table* table = new Table; // never destroyed: modules may be freed during exit
    return *table;
}

ModulePtr Table::program() {
    std::lock_guard lock(mutex_);
    if (!program_) {
        std::error_code ec;
        fs::path file = fs::read_symlink("/proc/self/exe", ec);
        program_ = std::make_shared<Module>(Kind::Program, file, dlopen(nullptr, RTLD_NOW));
        program_->pinned_ = true;
    }
    return program_;
}

ModulePtr Table::find(HMODULE handle) {
    if (!handle)
        return program();
    std::lock_guard lock(mutex_);
    return findLocked(handle);
}

ModulePtr Table::findLocked(HMODULE handle) {
    const auto value = reinterpret_cast<ULONG_PTR>(handle);
    if (program_ && program_->handle() == handle)
        return program_;
    for (const ModulePtr& m : modules_) {
        if (reinterpret_cast<ULONG_PTR>(m.get()) == (value & ~kTagMask))
            return m->handle() == handle ? m : nullptr;
    }
    return nullptr;
}

ModulePtr Table::addImage(void* library, const fs::path& file, bool pinned) {
    std::lock_guard lock(mutex_);
    for (const ModulePtr& m : modules_) {
        if (m->kind_ == Kind::Image && m->library_ == library) {
            if (!m->pinned_)
                ++m->references_;
            return m;
        }
    }
    auto module = std::make_shared<Module>(Kind::Image, file, library);
    module->pinned_ = pinned;
    modules_.push_back(module);
    return module;
}

ModulePtr Table::addResourceOnly(Kind kind, fs::path file) {
    auto module = std::make_shared<Module>(kind, std::move(file), nullptr);
    std::lock_guard lock(mutex_);
    modules_.push_back(module);
    return module;
}

ModulePtr Table::findImageByName(std::u16string_view fileName) {
    std::lock_guard lock(mutex_);
    for (const ModulePtr& m : modules_) {
        if (m->kind_ == Kind::Image && equalNoCase(widen(m->file_.filename().string()), fileName))
            return m;
    }
    return nullptr;
}

ModulePtr Table::findImageByFile(const fs::path& file) {
    std::lock_guard lock(mutex_);
    for (const ModulePtr& m : modules_) {
        if (m->kind_ == Kind::Image && sameFile(m->file_, file))
            return m;
    }
    return nullptr;
}

bool Table::release(HMODULE handle, void*& toClose) {
    toClose = nullptr;
    if (!handle)
        return false;
    std::lock_guard lock(mutex_);
    const ModulePtr module = findLocked(handle);
    if (!module)
        return false;
    if (module->pinned_)
        return true;
    if (module->kind_ == Kind::Image)
        toClose = module->library_;
    if (--module->references_ == 0)
        std::erase(modules_, module);
    return true;
}

void Table::pin(const ModulePtr& module) {
    std::lock_guard lock(mutex_);
    module->pinned_ = true;
}

} // namespace sky::module
