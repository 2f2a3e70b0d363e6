// The steps that publishing runs for one pair of application and server, for one clone target,
// or for one application's options. Each step works on objects of its own: it creates them by
// programmatic identifier into the shared references of AdminState (overwriting what they held),
// binds and loads them, changes and saves. Nothing carries over from one step to the next.
//
// Failures before the change (creating, initialising, loading) throw sky::ComError. Publish,
// unpublish and options pass over the failures of their change and save, as the run must go on
// with the next pair; but a change that is lost is handed back, so that the run can say so. The
// two refusals that leave the farm as the caller wanted it (an application already published on
// the server, or not published on it) are not lost changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/admin_state.h"
#include "sky/com_error.h"

namespace brask {

inline constexpr std::u16string_view kApplicationProgId = u"SkyloomCOM.SkyloomApplication";
inline constexpr std::u16string_view kBindingProgId = u"SkyloomCOM.SkyloomAppSrvBinding";
// The clone spells the server class this way; programmatic identifiers ignore case.
inline constexpr std::u16string_view kCloneServerProgId = u"SkyloomCom.SkyloomServer";

// The failure that lost a step's change, if one did.
using LostChange = std::optional<sky::ComError>;

// A fresh farm object; the application (Initialize, LoadData(-1)); a binding for the server with
// an empty application name; then, passing over their failures, AddServer(binding) and SaveData.
LostChange PublishApplication(AdminState& state, std::u16string_view appDN,
                              std::u16string_view serverName);

// A fresh farm object; the application (Initialize, LoadData(-1)); then, passing over their
// failures, RemoveServer(serverName) and SaveData.
LostChange UnpublishApplication(AdminState& state, std::u16string_view appDN,
                                std::u16string_view serverName);

// A fresh farm object; the source server by "SkyloomCom.SkyloomServer"; for each application of
// its Applications, in the collection's order: a binding object, LoadData(-1) on the application,
// the binding bound to the target, AddServer, SaveData. No failure is passed over: the first one
// throws, and the applications saved before it stay saved.
void CloneServerApplications(AdminState& state, std::u16string_view sourceServer,
                             std::u16string_view targetServer);

// The application (Initialize, LoadData(-1)) and its settings through WinAppObject4; the puts of
// DefaultEncryption, DefaultSoundType, DefaultWindowColor, DefaultWindowType, DefaultWindowScale,
// DefaultWindowHeight and DefaultWindowWidth in that order (the last three widened with their
// sign); then, passing over its failure, SaveData on the settings object. No farm object.
LostChange SetApplicationOptions(AdminState& state, std::u16string_view appDN,
                                 std::int32_t windowType, std::int32_t windowColor,
                                 std::int32_t encryption, std::int32_t soundType,
                                 std::int16_t windowScale, std::int16_t windowHeight,
                                 std::int16_t windowWidth);

} // namespace brask
