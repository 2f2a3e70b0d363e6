#include "core/admin_state.h"

#include "sky/dispatch.h"

namespace brask {

ISkyloomCredential* AdminState::credential() {
    if (!credential_) {
        credential_ = sky::createObject<ISkyloomCredential>(u"SkyloomCOM.SkyloomCredential");
    }
    return credential_.get();
}

} // namespace brask
