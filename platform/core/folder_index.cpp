#include "folder_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "sky/text.h"

namespace fs = std::filesystem;

namespace sky::machine::detail {

namespace {

// Calls `each` with the name of every entry of `folder` but "." and "..", in the folder's order,
// until it answers true. Returns false when the folder cannot be read.
template <class Each> bool readFolder(const fs::path& folder, Each each) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (each(name))
            break;
    }
    closedir(dir);
    return true;
}

struct FolderId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderId&) const = default;
};

std::optional<FolderId> folderId(const fs::path& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return FolderId{info.st_dev, info.st_ino};
}

// One indexed folder: its names by their folding, kept current from the inotify queue.
struct Index {
    FolderId id;
    int watch = -1;
    std::unordered_map<std::string, std::vector<std::string>> names;

    void add(std::string name) {
        std::vector<std::string>& alike = names[upperUtf8(name)];
        for (const std::string& known : alike) {
            if (known == name)
                return;
        }
        alike.push_back(std::move(name));
    }
    void remove(const std::string& name) {
        const auto found = names.find(upperUtf8(name));
        if (found == names.end())
            return;
        std::erase(found->second, name);
        if (found->second.empty())
            names.erase(found);
    }
};

constexpr std::uint32_t kWatched = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class Indexes {
public:
    std::optional<std::string> find(const fs::path& folder, const std::string& name) {
        const std::lock_guard lock(mutex_);
        if (owner_ != getpid())
            restart();
        drainQueue();
        const std::optional<FolderId> id = folderId(folder);
        if (!id)
            return std::nullopt;
        if (Index* index = indexOf(*id)) {
            const auto found = index->names.find(upperUtf8(name));
            if (found == index->names.end())
                return std::nullopt;
            return found->second.front();
        }
        return readAndMaybeIndex(folder, *id, name);
    }

    std::size_t size() {
        const std::lock_guard lock(mutex_);
        return owner_ == getpid() ? indexes_.size() : 0;
    }

private:
    // A forked child shares its parent's queue, and each would read events meant for the
    // other: the child starts afresh with a queue of its own.
    void restart() {
        if (queue_ >= 0)
            close(queue_);
        indexes_.clear();
        owner_ = getpid();
        queue_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }

    void dropAll() {
        for (const Index& index : indexes_)
            inotify_rm_watch(queue_, index.watch);
        indexes_.clear();
    }

    void drop(std::list<Index>::iterator index) {
        inotify_rm_watch(queue_, index->watch);
        indexes_.erase(index);
    }

    // Folders are known by device and inode, so that a folder reached by two paths has one index
    // and a folder replaced by another of the same path is read afresh.
    Index* indexOf(const FolderId& id) {
        for (auto index = indexes_.begin(); index != indexes_.end(); ++index) {
            if (index->id == id) {
                indexes_.splice(indexes_.begin(), indexes_, index);
                return &indexes_.front();
            }
        }
        return nullptr;
    }

    void drainQueue() {
        if (queue_ < 0)
            return;
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t got = read(queue_, buffer, sizeof buffer);
            if (got <= 0)
                return;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                apply(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void apply(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            dropAll();
            return;
        }
        for (auto index = indexes_.begin(); index != indexes_.end(); ++index) {
            if (index->watch != event.wd)
                continue;
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                drop(index);
            } else if (event.len > 0) {
                std::string name(event.name);
                if (event.mask & (IN_CREATE | IN_MOVED_TO))
                    index->add(std::move(name));
                else if (event.mask & (IN_DELETE | IN_MOVED_FROM))
                    index->remove(name);
            }
            return;
        }
    }

    std::optional<std::string> readAndMaybeIndex(const fs::path& folder, const FolderId& id,
                                                 const std::string& name) {
        const std::string wanted = upperUtf8(name);
        std::optional<std::string> found;
        std::size_t entries = 0;
        readFolder(folder, [&](std::string_view entry) {
            ++entries;
            if (!found && upperUtf8(entry) == wanted)
                found = std::string(entry);
            return false;
        });
        if (entries >= kIndexedFrom && queue_ >= 0)
            index(folder, id);
        return found;
    }

    // The watch comes first, then the read: a change made meanwhile is both in the read and in
    // the queue, and applying it again changes nothing.
    void index(const fs::path& folder, const FolderId& id) {
        const int watch = inotify_add_watch(queue_, folder.c_str(), kWatched);
        if (watch < 0)
            return;
        if (indexes_.size() >= kMostIndexed)
            drop(std::prev(indexes_.end()));
        Index made{id, watch, {}};
        const bool read = readFolder(folder, [&](std::string_view entry) {
            made.add(std::string(entry));
            return false;
        });
        if (!read || folderId(folder) != id) {
            inotify_rm_watch(queue_, watch);
            return;
        }
        for (auto known = indexes_.begin(); known != indexes_.end(); ++known) {
            if (known->watch == watch) {
                indexes_.erase(known);
                break;
            }
        }
        indexes_.push_front(std::move(made));
    }

    std::mutex mutex_;
    pid_t owner_ = 0;
    int queue_ = -1;
    std::list<Index> indexes_;
};

Indexes& indexes() {
    static Indexes* kept = new Indexes;
    return *kept;
}

} // namespace

std::optional<std::string> findEntryNoCase(const fs::path& folder, const std::string& name) {
    return indexes().find(folder, name);
}

std::size_t indexedFolders() {
    return indexes().size();
}

} // namespace sky::machine::detail
