// What a test changes in its process, put back when the guard goes, however the test ends: an
// assertion that fails returns from the test early, and the guard's destructor still runs.
// (The test main checks after every test that the environment and the current folder are as the
// test found them, and fails the test that left them changed.)
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace sky::testing {

// An environment variable set (or, with nullptr, removed) for the guard's lifetime. TZ is read
// again by the C library on both changes.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str()))
            previous_ = old;
        set(value);
    }
    ~ScopedEnvironmentVariable() { set(previous_ ? previous_->c_str() : nullptr); }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

    // Changes the value again; the destructor still restores the one from before the guard.
    void set(const char* value) {
        if (value)
            setenv(name_.c_str(), value, 1);
        else
            unsetenv(name_.c_str());
        if (name_ == "TZ")
            tzset();
    }

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// The whole environment of the process, put back as it was when the guard was made: for tests
// whose code under test changes variables (SetEnvironmentVariableW, say). TZ is read again by the
// C library when it changed.
class ScopedEnvironment {
public:
    // Variables named in `kept` are left as they are found at the end.
    explicit ScopedEnvironment(std::set<std::string> kept = {})
        : saved_(variables()), kept_(std::move(kept)) {}
    ~ScopedEnvironment() { restore(); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // Puts back every variable changed, added or removed since the guard was made; says what
    // each was ("NAME set to ...", "NAME changed from ... to ...", "NAME removed ...").
    std::vector<std::string> restore() const {
        std::vector<std::string> changes;
        bool timeZone = false;
        const auto now = variables();
        for (const auto& [name, value] : now) {
            const auto before = saved_.find(name);
            if ((before != saved_.end() && before->second == value) || kept_.count(name))
                continue;
            if (before == saved_.end()) {
                changes.push_back(name + " set to " + shown(value));
                unsetenv(name.c_str());
            } else {
                changes.push_back(name + " changed from " + shown(before->second) + " to " +
                                  shown(value));
                setenv(name.c_str(), before->second.c_str(), 1);
            }
            timeZone = timeZone || name == "TZ";
        }
        for (const auto& [name, value] : saved_) {
            if (now.count(name) || kept_.count(name))
                continue;
            changes.push_back(name + " removed (was " + shown(value) + ")");
            setenv(name.c_str(), value.c_str(), 1);
            timeZone = timeZone || name == "TZ";
        }
        if (timeZone)
            tzset();
        return changes;
    }

private:
    static std::map<std::string, std::string> variables() {
        std::map<std::string, std::string> all;
        for (char** entry = environ; entry && *entry; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            if (equals != std::string::npos)
                all[text.substr(0, equals)] = text.substr(equals + 1);
        }
        return all;
    }
    static std::string shown(const std::string& value) {
        return "\"" + (value.size() > 60 ? value.substr(0, 60) + "...\" (" +
                                               std::to_string(value.size()) + " bytes)"
                                         : value + "\"");
    }

    std::map<std::string, std::string> saved_;
    std::set<std::string> kept_;
};

// The process's current folder changed to `folder` for the guard's lifetime.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::filesystem::path& folder)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedCurrentFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    std::filesystem::path previous_;
};

// Runs `undo` when the guard goes: for what a test makes outside its process (a database, a
// file's owner) and must take away again whatever its outcome.
template <class Undo> class ScopedUndo {
public:
    explicit ScopedUndo(Undo undo) : undo_(std::move(undo)) {}
    ~ScopedUndo() { undo_(); }
    ScopedUndo(const ScopedUndo&) = delete;
    ScopedUndo& operator=(const ScopedUndo&) = delete;

private:
    Undo undo_;
};

} // namespace sky::testing
