#include "model.h"

namespace idlc {

int Library::findInterface(const std::string& name) const {
    for (std::size_t i = 0; i < interfaces.size(); ++i)
        if (interfaces[i].name == name)
            return static_cast<int>(i);
    return -1;
}

int Library::findEnum(const std::string& name) const {
    for (std::size_t i = 0; i < enums.size(); ++i)
        if (enums[i].name == name || enums[i].alias == name)
            return static_cast<int>(i);
    return -1;
}

} // namespace idlc
