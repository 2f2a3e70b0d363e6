// What a command that stores applications one after another did with each of them, told as it
// happens: saved, or passed over because the farm refused the save (the command goes on with the
// next one). The import preview listens to it; the windows and the command line do not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brask {

class SaveObserver {
public:
    virtual void saved(std::u16string_view distinguishedName) = 0;
    // `number` and `description`: the refusal as the object model reported it.
    virtual void passedOver(std::u16string_view distinguishedName, std::int32_t number,
                            std::u16string_view description) = 0;

protected:
    ~SaveObserver() = default;
};

// Counts the saves and those passed over, for a run's count when a failure ends it, and tells
// each on to `next` when there is one.
class CountedSaves final : public SaveObserver {
public:
    explicit CountedSaves(SaveObserver* next) : next_(next) {}
    void saved(std::u16string_view distinguishedName) override {
        ++saves;
        if (next_) {
            next_->saved(distinguishedName);
        }
    }
    void passedOver(std::u16string_view distinguishedName, std::int32_t number,
                    std::u16string_view description) override {
        ++passedOvers;
        if (next_) {
            next_->passedOver(distinguishedName, number, description);
        }
    }
    std::size_t saves = 0;
    std::size_t passedOvers = 0;

private:
    SaveObserver* next_;
};

} // namespace brask
