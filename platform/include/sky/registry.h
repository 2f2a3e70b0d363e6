// The platform's own registry helpers, beside the Win32 functions of win/registry.h: the hive
// file, the user that access is checked for, the write denials that stand in for key security,
// and small readers for callers that want one value.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sky/export.h"
#include "win/registry.h"

namespace sky::registry {

// The machine's hive file of the current machine (<machine>/registry.db): HKEY_LOCAL_MACHINE,
// written by the machine's owner alone. Each account's HKEY_USERS\<account> (its
// HKEY_CURRENT_USER) is a hive of its own, <machine>/profiles/<account>/ntuser.db, the account's
// alone (docs/registry.md).
SKY_API std::filesystem::path hivePath();

// What went wrong with the hive in the calling thread's last failing call (a damaged file, a
// locked or unreadable one), for messages to a person; empty when nothing went wrong yet.
SKY_API std::string lastHiveProblem();

// The machine's current user: the account the process runs as (the password database, else
// $USER). HKEY_CURRENT_USER is HKEY_USERS\<this name>; write denials are checked against it.
SKY_API std::u16string currentUser();

// Write denials stand in for the security of a key. A user denied on a key may still open and
// read it and everything below it, but every request for a write right there (KEY_SET_VALUE,
// KEY_CREATE_SUB_KEY, DELETE, ... and so KEY_WRITE and KEY_ALL_ACCESS) fails with
// ERROR_ACCESS_DENIED, as do creating subkeys below it and deleting it. Denials are stored in the
// hive, so they hold for every process on the machine, and go with the key when it is deleted.
// User names compare case-insensitively. All three return a registry error code.
SKY_API LSTATUS denyWrite(HKEY root, std::u16string_view subKey, std::u16string_view user);
SKY_API LSTATUS allowWrite(HKEY root, std::u16string_view subKey, std::u16string_view user);
SKY_API LSTATUS deniedUsers(HKEY root, std::u16string_view subKey,
                            std::vector<std::u16string>& users);

// Sets a value to exactly `size` bytes of `data`, whatever its type: unlike RegSetValueExW, text
// is not given a terminator it lacks nor cut to whole characters. For importers, which keep data
// as the file gives it. The key needs KEY_SET_VALUE; a name over 16,383 characters or holding a
// NUL gives ERROR_INVALID_PARAMETER.
SKY_API LSTATUS setValueBytes(HKEY key, std::u16string_view name, DWORD type, const BYTE* data,
                              DWORD size);

// A REG_SZ or REG_EXPAND_SZ value as text (unexpanded); nullopt when the key or value is missing,
// of another type, or unreadable.
SKY_API std::optional<std::u16string> readString(HKEY root, std::u16string_view subKey,
                                                 std::u16string_view valueName);

// A mark of the machine's hive's contents as the process sees them. Two marks differ when
// anything was written to the machine's hive (HKLM, HKCR) between them, by this process or any
// other on the machine, or when the process moved to another machine (an account's own hive, its
// HKCU, does not count: nothing keeps what it read there): callers that keep what they read compare
// marks to know when to read again. nullopt when the hive cannot be read.
struct ContentMark {
    std::uint64_t connection = 0;
    std::int64_t othersCommits = 0;
    std::int64_t ownChanges = 0;
    bool operator==(const ContentMark&) const = default;
};
SKY_API std::optional<ContentMark> contentMark();

// A key handle that closes itself.
class SKY_API Key {
public:
    Key() = default;
    explicit Key(HKEY key) : key_(key) {}
    ~Key() { reset(); }
    Key(Key&& other) noexcept : key_(other.release()) {}
    Key& operator=(Key&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // For the out parameter of RegOpenKeyExW / RegCreateKeyExW; closes what was held.
    PHKEY put() {
        reset();
        return &key_;
    }
    HKEY release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void reset(HKEY key = nullptr) {
        if (key_)
            RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};

} // namespace sky::registry
