// What a command that stores applications one after another did with each of them, told as it
// happens: saved, or passed over because the farm refused the save (the command goes on with the
// next one). The import preview listens to it; the windows and the command line do not.
#pragma once

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

} // namespace brask
