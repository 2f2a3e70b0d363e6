#include "publishing/steps.h"

#include "core/farm.h"
#include "sky/bstr.h"
#include "sky/dispatch.h"
#include "skyloom_results.h"

namespace brask {

namespace {

// The outcome of a call whose failure the step passes over. `harmless` is the refusal that leaves
// the farm as the caller wanted it (S_OK when there is none); any other failure is the first
// lost change of the step unless one came before it.
void passOver(HRESULT result, HRESULT harmless, LostChange& lost) {
    if (SUCCEEDED(result)) {
        return;
    }
    // Taking the error information away also keeps a refusal's text from describing a later
    // failure that brings none of its own.
    sky::ComError failure(result);
    if (result != harmless && !lost) {
        lost = std::move(failure);
    }
}

// A new application object for `appDN`, bound and loaded, in the shared reference.
ISkyloomApplication5* loadApplication(AdminState& state, std::u16string_view appDN) {
    state.application = sky::createObject<ISkyloomApplication5>(kApplicationProgId);
    sky::check(state.application->Initialize(SkyloomWinAppObject, sky::Bstr(appDN).get()));
    sky::check(state.application->LoadData(-1));
    return state.application.get();
}

// A new binding object in the shared reference.
ISkyloomAppSrvBinding2* newBinding(AdminState& state) {
    state.binding = sky::createObject<ISkyloomAppSrvBinding2>(kBindingProgId);
    return state.binding.get();
}

void bindToServer(ISkyloomAppSrvBinding2* binding, std::u16string_view serverName) {
    sky::check(binding->Initialize(SkyloomWinSrvObject, sky::Bstr(serverName).get(),
                                   sky::Bstr(u"").get()));
}

} // namespace

LostChange PublishApplication(AdminState& state, std::u16string_view appDN,
                              std::u16string_view serverName) {
    openFarm(state);
    ISkyloomApplication5* application = loadApplication(state, appDN);
    bindToServer(newBinding(state), serverName);

    LostChange lost;
    // The application takes the binding at its first version.
    passOver(application->AddServer(state.binding.as<ISkyloomAppSrvBinding>().get()),
             SKYLOOM_E_ALREADY_PUBLISHED, lost);
    passOver(application->SaveData(), S_OK, lost);
    return lost;
}

LostChange UnpublishApplication(AdminState& state, std::u16string_view appDN,
                                std::u16string_view serverName) {
    openFarm(state);
    ISkyloomApplication5* application = loadApplication(state, appDN);

    LostChange lost;
    passOver(application->RemoveServer(sky::Bstr(serverName).get()), SKYLOOM_E_NOT_PUBLISHED, lost);
    passOver(application->SaveData(), S_OK, lost);
    return lost;
}

void CloneServerApplications(AdminState& state, std::u16string_view sourceServer,
                             std::u16string_view targetServer) {
    openFarm(state);
    state.server = sky::createObject<ISkyloomServer5>(kCloneServerProgId);
    sky::check(state.server->Initialize(SkyloomWinSrvObject, sky::Bstr(sourceServer).get()));
    sky::ComPtr<ISkyloomApplications> applications =
        getObject(&ISkyloomServer::get_Applications, state.server.get());
    for (const sky::ComPtr<ISkyloomApplication5>& application :
         sky::enumerateAs<ISkyloomApplication5>(applications.get())) {
        state.application = application;
        ISkyloomAppSrvBinding2* binding = newBinding(state);
        sky::check(state.application->LoadData(-1));
        bindToServer(binding, targetServer);
        sky::check(state.application->AddServer(state.binding.as<ISkyloomAppSrvBinding>().get()));
        sky::check(state.application->SaveData());
    }
}

LostChange SetApplicationOptions(AdminState& state, std::u16string_view appDN,
                                 std::int32_t windowType, std::int32_t windowColor,
                                 std::int32_t encryption, std::int32_t soundType,
                                 std::int16_t windowScale, std::int16_t windowHeight,
                                 std::int16_t windowWidth) {
    ISkyloomApplication5* application = loadApplication(state, appDN);
    state.appSettings = getObject(&ISkyloomApplication4::get_WinAppObject4, application);
    ISkyloomWinApp4* settings = state.appSettings.get();
    sky::check(settings->put_DefaultEncryption(static_cast<QVWinEncryptionLevel>(encryption)));
    sky::check(settings->put_DefaultSoundType(static_cast<QVWinSoundType>(soundType)));
    sky::check(settings->put_DefaultWindowColor(static_cast<QVWinWindowColor>(windowColor)));
    sky::check(settings->put_DefaultWindowType(static_cast<QVWinWindowType>(windowType)));
    sky::check(settings->put_DefaultWindowScale(windowScale));
    sky::check(settings->put_DefaultWindowHeight(windowHeight));
    sky::check(settings->put_DefaultWindowWidth(windowWidth));

    LostChange lost;
    passOver(settings->SaveData(), S_OK, lost);
    return lost;
}

} // namespace brask
