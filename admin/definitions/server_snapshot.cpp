#include "definitions/server_snapshot.h"

#include <limits>
#include <optional>

#include "core/farm.h"
#include "core/messages.h"
#include "core/runtime_errors.h"
#include "definitions/definition_file.h"
#include "definitions/text_file.h"
#include "sky/dispatch.h"

namespace brask {

namespace {

constexpr std::u16string_view kDistinguishedNameKey = u"DistinguishedName";

ToolError cannotHold(const AnsiTextWriter& file, std::u16string_view line) {
    return runtimeError(kInvalidCall, u"the line \"" + std::u16string(line) +
                                          u"\" has characters that code page " +
                                          definition::decimal(file.codePage()) + u" cannot hold");
}

// A line of the snapshot; text the code page cannot hold stops the operation.
void writeLine(AnsiTextWriter& file, std::u16string_view line) {
    if (!file.writeLine(definition::oneLine(line))) {
        throw cannotHold(file, line);
    }
}

} // namespace

bool takeServerOffline(AdminState& state, Feedback& feedback, std::u16string_view server,
                       std::u16string_view path) {
    std::optional<std::size_t> applicationCount;
    std::size_t withdrawn = 0;
    const auto doneBefore = [&] {
        return stoppedText(withdrawn, applicationCount, kApplicationsUnit, 0);
    };
    return withErrorPath(feedback, doneBefore, [&] {
        feedback.progress(0);
        AnsiTextWriter file(path);
        ISkyloomFarm6* farm = openFarm(state);
        sky::Bstr serverName(server);
        sky::ComPtr<ISkyloomServer4> found;
        sky::check(farm->GetServer4(SkyloomWinSrvObject, serverName.get(), found.put()));
        state.server = found.as<ISkyloomServer5>();
        sky::ComPtr<ISkyloomWinServer> windowsServer =
            getObject(&ISkyloomServer4::get_WinServerObject4, state.server.get())
                .as<ISkyloomWinServer>();

        sky::ComPtr<ISkyloomApplications> counted =
            getObject(&ISkyloomServer::get_Applications, state.server.get());
        int count = 0;
        for ([[maybe_unused]] const sky::Variant& item : sky::enumerate(counted.get())) {
            if (++count > std::numeric_limits<std::int16_t>::max()) {
                throw runtimeError(kOverflow, u"the server has more than 32767 applications");
            }
        }
        applicationCount = static_cast<std::size_t>(count);

        writeLine(file, u"[Servers]");
        writeLine(file,
                  u"ServerName=" + getText(&ISkyloomServer::get_ServerName, state.server.get()));
        LONG major = 0;
        LONG minor = 0;
        sky::check(windowsServer->get_WinNTVerMajor(&major));
        sky::check(windowsServer->get_WinNTVerMinor(&minor));
        writeLine(file, u"Windows NT Version=" + definition::decimal(major) + u"." +
                            definition::decimal(minor));
        file.writeEmptyLine();
        writeLine(file, u"[Applications]");

        sky::ComPtr<ISkyloomApplications> applications =
            getObject(&ISkyloomServer::get_Applications, state.server.get());
        float progress = 0;
        for (const sky::ComPtr<ISkyloomApplication5>& application :
             sky::enumerateAs<ISkyloomApplication5>(applications.get())) {
            state.application = application;
            progress = static_cast<float>(progress + 99.0 / count);
            feedback.progress(progress);
            // The line is checked before the withdrawal: an application the file could not name
            // stops the run untouched, so the file lists exactly what was withdrawn.
            const std::u16string line =
                u"DistinguishedName=" +
                getText(&ISkyloomApplication::get_DistinguishedName, state.application.get());
            if (!file.canHold(definition::oneLine(line))) {
                throw cannotHold(file, line);
            }
            sky::check(state.application->RemoveServer(serverName.get()));
            sky::check(state.application->SaveData());
            writeLine(file, line);
            ++withdrawn;
        }
        file.writeEmptyLine();
        file.writeEmptyLine();
        file.close();
    });
}

std::u16string notBroughtOnlineText(std::size_t count) {
    return definition::decimal(static_cast<std::int64_t>(count)) +
           u" applications could not be brought online";
}

bool bringServerOnline(AdminState& state, Feedback& feedback, std::u16string_view server,
                       std::u16string_view path, SaveObserver* observer) {
    CountedSaves counted(observer);
    const auto doneBefore = [&] {
        return stoppedText(counted.saves, std::nullopt, kApplicationsUnit, counted.passedOvers);
    };
    return withErrorPath(feedback, doneBefore, [&] {
        feedback.status(u"");
        AnsiTextReader file(path);
        sky::Bstr serverName(server);
        state.server = sky::createObject<ISkyloomServer5>(u"SkyloomCOM.SkyloomServer");
        sky::check(state.server->Initialize(SkyloomWinSrvObject, serverName.get()));
        while (!file.atEnd()) {
            const std::u16string line = file.readLine();
            const std::optional<definition::KeyLine> keyLine = definition::splitKeyLine(line);
            if (!keyLine || keyLine->key != kDistinguishedNameKey) {
                continue;
            }
            const std::u16string_view distinguishedName = keyLine->value;
            feedback.status(definition::withoutRootFolder(distinguishedName));
            sky::Bstr name(distinguishedName);
            state.application =
                sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
            sky::check(state.application->Initialize(SkyloomWinAppObject, name.get()));
            sky::check(state.application->LoadData(-1));
            state.binding =
                sky::createObject<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding");
            sky::check(
                state.binding->Initialize(SkyloomWinSrvObject, serverName.get(), name.get()));
            sky::check(
                state.application->AddServer(state.binding.as<ISkyloomAppSrvBinding>().get()));
            // A save the farm refuses leaves that application unpublished; the next line is read.
            try {
                sky::check(state.application->SaveData());
                counted.saved(distinguishedName);
            } catch (const sky::ComError& error) {
                counted.passedOver(distinguishedName, error.result(), error.description());
            }
        }
    });
}

} // namespace brask
