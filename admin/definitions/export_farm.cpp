#include "definitions/export_farm.h"

#include <limits>
#include <optional>
#include <unordered_set>

#include <windows.h>

#include "core/farm.h"
#include "core/runtime_errors.h"
#include "definitions/definition_file.h"
#include "definitions/file_system.h"
#include "definitions/text_file.h"
#include "sky/dispatch.h"

namespace brask {

using namespace definition;

namespace {

// The largest count of applications the export can divide its progress by.
constexpr int kMostApplications = std::numeric_limits<std::int16_t>::max();

class FarmExport {
public:
    FarmExport(AdminState& state, Feedback& feedback, std::u16string_view path)
        : state_(state), feedback_(feedback), path_(path) {}

    void run() {
        feedback_.progress(0);
        prepareIconsFolder();
        openFarm(state_);
        state_.farmSettings = state_.farm.as<ISkyloomWinFarm5>();
        AnsiTextWriter file(path_);
        file_ = &file;
        writeFarm();
        const int count = countApplications();
        sky::ComPtr<ISkyloomApplications> applications =
            getObject(&ISkyloomFarm::get_Applications, state_.farm.get());
        for (const sky::ComPtr<ISkyloomApplication5>& application :
             sky::enumerateAs<ISkyloomApplication5>(applications.get())) {
            state_.application = application;
            SkyloomObjectType type{};
            sky::check(state_.application->get_AppType(&type));
            if (type == SkyloomWinAppObject) {
                progress_ = static_cast<float>(progress_ + 99.0 / count);
                feedback_.progress(progress_);
                writeApplication();
            }
        }
        file_ = nullptr;
        file.close();
    }

private:
    // The icons folder of the working directory, created, or emptied of its icons.
    void prepareIconsFolder() {
        iconsFolder_ = workingDirectory() + u"\\icons";
        temporaryFolder_ = temporaryFolder();
        if (folderExists(iconsFolder_)) {
            deleteFilesWithExtension(iconsFolder_, u".ico");
        } else {
            createFolder(iconsFolder_);
        }
    }

    // "Key=value"; text the code page cannot hold stops the export and says where it was.
    void write(std::u16string_view key, std::u16string_view value) {
        line_.assign(key);
        line_ += u'=';
        line_ += value;
        if (!file_->writeLine(line_)) {
            throw runtimeError(kInvalidCall, u"the value of \"" + std::u16string(key) + u"=\" of " +
                                                 owner_ + u" has characters that code page " +
                                                 decimal(file_->codePage()) + u" cannot hold");
        }
    }
    void writeText(std::u16string_view key, std::u16string_view value) {
        write(key, oneLine(value));
    }
    void writeHeader(std::u16string_view header) {
        if (!file_->writeLine(header)) {
            throw runtimeError(kInvalidCall);
        }
    }

    void writeFarm() {
        owner_ = u"the farm";
        writeHeader(kFarmHeader);
        writeText(kFarmNameKey, getText(&ISkyloomFarm::get_FarmName, state_.farm.get()));
        ISkyloomWinFarm5* settings = state_.farmSettings.get();
        for (const FarmKey& row : farmKeys()) {
            try {
                writeFarmValue(row, settings);
            } catch (const sky::ComError&) {
                if (!row.optional) {
                    throw;
                }
            }
        }
    }

    void writeFarmValue(const FarmKey& row, ISkyloomWinFarm5* settings) {
        switch (row.kind) {
        case ValueKind::Text:
            writeText(row.key, row.getText(settings));
            break;
        case ValueKind::Number:
            write(row.key, decimal(row.getNumber(settings)));
            break;
        case ValueKind::Kilobytes:
            write(row.key, kilobytes(row.getNumber(settings)));
            break;
        }
    }

    // Every application of the farm, of whatever type; more than 32767 overflow the counter.
    int countApplications() {
        sky::ComPtr<ISkyloomApplications> applications =
            getObject(&ISkyloomFarm::get_Applications, state_.farm.get());
        int count = 0;
        for ([[maybe_unused]] const sky::Variant& item : sky::enumerate(applications.get())) {
            if (++count > kMostApplications) {
                throw runtimeError(kOverflow, u"the farm has more than 32767 applications");
            }
        }
        return count;
    }

    void writeApplication() {
        ISkyloomApplication5* application = state_.application.get();
        state_.appSettings = getObject(&ISkyloomApplication4::get_WinAppObject4, application);
        ISkyloomWinApp4* settings = state_.appSettings.get();
        const std::u16string name = getText(&ISkyloomApplication::get_AppName, application);
        const std::u16string distinguishedName =
            getText(&ISkyloomApplication::get_DistinguishedName, application);
        owner_ = u"the application " + distinguishedName;

        file_->writeEmptyLine();
        writeHeader(kApplicationHeader);
        bool desktop = false;
        for (const ApplicationKey& row : applicationKeys()) {
            if (row.key == u"AppName") {
                writeText(row.key, name);
            } else if (row.key == u"DistinguishedName") {
                writeText(row.key, distinguishedName);
            } else if (row.key == u"DefaultInitProg") {
                QVWinAppLumoAttribute attributes{};
                sky::check(settings->get_LumoAttributes(&attributes));
                desktop = (static_cast<std::int32_t>(attributes) & kDesktopBit) != 0;
                writeText(row.key, desktop ? std::u16string(kPublishedDesktop)
                                           : row.getText(application, settings));
            } else if (row.key == u"DefaultWorkDir" && desktop) {
                continue;
            } else if (row.kind == ValueKind::Text) {
                writeText(row.key, row.getText(application, settings));
            } else {
                write(row.key, decimal(row.getNumber(settings)));
            }
        }

        file_->writeEmptyLine();
        writeHeader(kServersHeader);
        sky::ComPtr<ISkyloomServers> servers =
            getObject(&ISkyloomApplication::get_Servers, application);
        for (const sky::ComPtr<ISkyloomServer5>& server :
             sky::enumerateAs<ISkyloomServer5>(servers.get())) {
            writeText(u"Server", getText(&ISkyloomServer::get_ServerName, server.get()));
        }

        file_->writeEmptyLine();
        writeHeader(kUsersHeader);
        sky::ComPtr<ISkyloomUsers> users = getObject(&ISkyloomApplication::get_Users, application);
        for (const sky::ComPtr<ISkyloomUser5>& user :
             sky::enumerateAs<ISkyloomUser5>(users.get())) {
            writeAccount(u"User", user.get(), getText(&ISkyloomUser5::get_UserName, user.get()));
        }

        file_->writeEmptyLine();
        writeHeader(kGroupsHeader);
        sky::ComPtr<ISkyloomGroups> groups =
            getObject(&ISkyloomApplication::get_Groups, application);
        for (const sky::ComPtr<ISkyloomGroup5>& group :
             sky::enumerateAs<ISkyloomGroup5>(groups.get())) {
            writeAccount(u"Group", group.get(),
                         getText(&ISkyloomGroup5::get_GroupName, group.get()));
        }

        file_->writeEmptyLine();
        writeHeader(kIconHeader);
        const std::u16string iconFile = iconFileName(name);
        // One scratch file for the run (ScratchFile says why): the object model writes each
        // icon over the one before and cuts what is left of it.
        if (!scratch_) {
            scratch_.emplace(temporaryFolder_ + u"\\brask-export-" +
                             decimal(GetCurrentProcessId()) + u".ico");
        }
        const std::u16string icon = iconsFolder_ + u"\\" + iconFile;
        sky::Bstr scratchName(scratch_->path());
        sky::check(settings->WriteIconToFile(scratchName.get()));
        copyFile(scratch_->path(), icon);
        writeText(u"Icon", icon);
        file_->writeEmptyLine();
    }

    // "User=" or "Group=" with the account's four fields parted by ":". A name holding ":" would
    // be read back as another account: it stops the export and says whose it is.
    template <class Account>
    void writeAccount(std::u16string_view key, Account* account, std::u16string name) {
        SkyloomAccountType accountType{};
        QVAccountAuthorityType authorityType{};
        sky::check(account->get_AccountType(&accountType));
        sky::check(account->get_AAType(&authorityType));
        std::u16string authorityName = getText(&Account::get_AAName, account);
        if (authorityName.find(u':') != std::u16string::npos ||
            name.find(u':') != std::u16string::npos) {
            throw runtimeError(
                kInvalidCall,
                u"the account \"" + (authorityName.empty() ? name : authorityName + u"\\" + name) +
                    u"\" of " + owner_ + u" holds \":\", which no account name can hold");
        }
        write(key, oneLine(accountValue({static_cast<std::int32_t>(accountType),
                                         static_cast<std::int32_t>(authorityType),
                                         std::move(authorityName), std::move(name)})));
    }

    // The icon's file name in the icons folder: the application's name and ".ico", or, when this
    // export has written a file of that name already (compared without regard to case), the first
    // free of "NAME (2).ico", "NAME (3).ico", ... A name no file can have stops the export.
    std::u16string iconFileName(const std::u16string& name) {
        if (!isFileName(name)) {
            throw runtimeError(kBadFileName, u"\"" + name + u".ico\" of " + owner_);
        }
        std::u16string file = name + u".ico";
        for (int copy = 2; writtenIcons_.contains(sky::upper(file)); ++copy) {
            file = name + u" (" + decimal(copy) + u").ico";
        }
        writtenIcons_.insert(sky::upper(file));
        return file;
    }

    AdminState& state_;
    Feedback& feedback_;
    std::u16string_view path_;
    AnsiTextWriter* file_ = nullptr;
    std::u16string iconsFolder_;
    std::u16string temporaryFolder_;
    std::optional<ScratchFile> scratch_;
    std::u16string owner_;
    std::u16string line_;
    std::unordered_set<std::u16string> writtenIcons_;
    float progress_ = 0;
};

} // namespace

bool exportFarm(AdminState& state, Feedback& feedback, std::u16string_view path) {
    return withErrorPath(feedback, [&] { FarmExport(state, feedback, path).run(); });
}

} // namespace brask
