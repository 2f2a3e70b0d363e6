// A scratch copy of a farm store: the whole store copied, as one consistent view, into a new store
// that nobody else knows of, so that a tool can try its work on the copy and compare it with the
// original afterwards. The copy is removed when the ScratchStore goes.
#pragma once

#include <filesystem>
#include <memory>

#include "qvcomsrv/store/farm_store.h"

namespace sky::farm {

class ScratchStore {
public:
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    ~ScratchStore();

    // Where the copy is, to open it or to hand it to the object model.
    const StoreLocation& location() const { return location_; }

    // Copies the store at `from` into a new store in `folder` (created when missing). A store file
    // is copied with SQLite's online backup, which sees the store as one transaction would while
    // others go on writing to it. NotSupported for a kind of store that cannot be copied.
    static Result<std::unique_ptr<ScratchStore>> copy(const StoreLocation& from,
                                                      const std::filesystem::path& folder);

private:
    explicit ScratchStore(StoreLocation location) : location_(std::move(location)) {}
    StoreLocation location_;
};

} // namespace sky::farm
