#include "definitions/import_farm.h"

#include <optional>
#include <unordered_set>

#include <windows.h>

#include "core/farm.h"
#include "core/messages.h"
#include "core/runtime_errors.h"
#include "definitions/definition_file.h"
#include "definitions/file_system.h"
#include "definitions/text_file.h"
#include "qvcomsrv/store/icon.h"
#include "sky/dispatch.h"
#include "sky/text.h"

namespace brask {

using namespace definition;

namespace {

constexpr std::u16string_view kRootFolder = u"Applications";

// A step whose failure the import passes over.
template <class Step> void tolerant(Step&& step) {
    try {
        step();
    } catch (const sky::ComError&) {
    } catch (const ToolError&) {
    }
}

std::u16string trimBlanks(std::u16string_view text) {
    const std::size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) {
        return {};
    }
    return std::u16string(text.substr(first, text.find_last_not_of(u' ') - first + 1));
}

class FarmImport {
public:
    FarmImport(AdminState& state, Feedback& feedback, std::u16string_view path,
               SaveObserver* observer)
        : state_(state), feedback_(feedback), path_(path), observer_(observer) {}

    void run() {
        feedback_.status(u"");
        AnsiTextReader file(path_);
        openFarm(state_);
        state_.farmSettings = state_.farm.as<ISkyloomWinFarm5>();
        while (!file.atEnd()) {
            const std::u16string line = file.readLine();
            if (const std::optional<Section> header = headerSection(line)) {
                section_ = *header;
            }
            handle(line);
        }
    }

private:
    void handle(std::u16string_view line) {
        if (section_ == Section::NewApplication) {
            newApplication();
            return;
        }
        const std::optional<KeyLine> keyLine = splitKeyLine(line);
        if (!keyLine) {
            return;
        }
        switch (section_) {
        case Section::Farm:
            tolerant([&] { applyFarmKey(*keyLine); });
            break;
        case Section::NewApplication:
            break;
        case Section::Application:
            applyApplicationKey(*keyLine);
            break;
        case Section::Servers:
            if (keyLine->key == u"Server") {
                addServer(keyLine->value);
            }
            break;
        case Section::Users:
            if (keyLine->key == u"User") {
                addUser(keyLine->value);
            }
            break;
        case Section::Groups:
            if (keyLine->key == u"Group") {
                addGroup(keyLine->value);
            }
            break;
        case Section::Icon:
            if (keyLine->key == u"Icon") {
                storeApplication(keyLine->value);
            }
            break;
        }
    }

    void applyFarmKey(const KeyLine& line) {
        const FarmKey* row = findFarmKey(line.key);
        if (!row) {
            return;
        }
        ISkyloomWinFarm5* settings = state_.farmSettings.get();
        switch (row->kind) {
        case ValueKind::Text:
            row->putText(settings, line.value);
            break;
        case ValueKind::Number:
            row->putNumber(settings, number(line.value));
            break;
        case ValueKind::Kilobytes:
            row->putNumber(settings, bytesFromKilobytes(line.value));
            break;
        }
    }

    // The "[Application]" line: a new, empty application in the farm, saved only at its "Icon="
    // line. One under construction before it is dropped.
    void newApplication() {
        state_.application = nullptr;
        state_.appSettings = nullptr;
        parentFolder_.reset();
        distinguishedName_.reset();
        sky::ComPtr<ISkyloomApplication4> added;
        sky::check(state_.farm->AddApplication4(SkyloomWinAppObject, added.put()));
        state_.application = added.as<ISkyloomApplication5>();
        state_.appSettings =
            getObject(&ISkyloomApplication4::get_WinAppObject4, state_.application.get());
        section_ = Section::Application;
    }

    // The settings of the application under construction; a list or icon line before any
    // "[Application]" has none to go to.
    ISkyloomWinApp4* settings() {
        if (!state_.appSettings) {
            throw runtimeError(kObjectNotSet);
        }
        return state_.appSettings.get();
    }

    void applyApplicationKey(const KeyLine& line) {
        const ApplicationKey* row = findApplicationKey(line.key);
        if (!row) {
            return;
        }
        if (row->key == u"DistinguishedName") {
            feedback_.status(withoutRootFolder(line.value));
        } else if (row->key == u"ParentFolderDN") {
            createFolders(line.value);
            row->putText(settings(), line.value);
            parentFolder_ = std::u16string(line.value);
        } else if (row->key == u"DefaultInitProg" && line.value == kPublishedDesktop) {
            sky::check(
                settings()->put_LumoAttributes(static_cast<QVWinAppLumoAttribute>(kDesktopBit)));
        } else if (row->key == u"DefaultInitProg") {
            row->putText(settings(), trimBlanks(line.value));
        } else if (row->putText) {
            row->putText(settings(), line.value);
        } else if (row->putNumber) {
            row->putNumber(settings(), number(line.value));
        }
    }

    // Every folder of the path below the first segment, one level at a time, each only if
    // missing: a folder that exists already fails, and that failure is passed over. A level is
    // asked for once in a run (the first application in a folder creates it; the thousands after
    // it find it made), whatever the answer: one that could not be made fails each save into it
    // as it did the first.
    void createFolders(std::u16string_view path) {
        std::size_t slash = path.find(u'/');
        while (slash != std::u16string_view::npos) {
            const std::size_t next = path.find(u'/', slash + 1);
            const std::u16string_view parent = path.substr(0, slash);
            const std::u16string_view name =
                path.substr(slash + 1, next == std::u16string_view::npos ? next : next - slash - 1);
            if (askedFolders_.insert(sky::upper(path.substr(0, next))).second) {
                tolerant([&] {
                    auto folder = sky::createObject<ISkyloomFolder5>(u"SkyloomCOM.SkyloomFolder");
                    sky::Bstr parentName(parent);
                    sky::check(folder->InitAppFolder(parentName.get()));
                    sky::Bstr folderName(name);
                    sky::check(folder->CreateSubFolder(folderName.get()));
                });
            }
            slash = next;
        }
    }

    // A "Server=" line. One binding object serves the run, bound again for each line (AddServer
    // takes the server's name from it), and the application's name is read once: every call
    // may cross to the service, and each is a round trip.
    void addServer(std::u16string_view server) {
        ISkyloomWinApp4* target = settings();
        if (!ownBinding_) {
            state_.binding =
                sky::createObject<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding");
            ownBinding_ = true;
        }
        sky::Bstr serverName(server);
        // The application's keys came before its first list: its name is settled.
        if (!distinguishedName_) {
            distinguishedName_ =
                getText(&ISkyloomApplication::get_DistinguishedName, state_.application.get());
        }
        sky::Bstr distinguishedName(*distinguishedName_);
        sky::check(state_.binding->Initialize(SkyloomWinSrvObject, serverName.get(),
                                              distinguishedName.get()));
        sky::check(target->AddServer(state_.binding.get()));
    }

    // A "User=" or "Group=" line: the account initialized with the run's one credential and
    // granted the application. One account object of each kind serves the run, bound again for
    // each line (the grant takes the account's fields from it).
    template <class Account, class Grant>
    void grant(sky::ComPtr<Account>& account, std::u16string_view progId, std::u16string_view value,
               Grant grantTo) {
        ISkyloomWinApp4* target = settings();
        const definition::Account fields = parseAccount(value);
        ISkyloomCredential* credential = state_.credential();
        if (!account) {
            account = sky::createObject<Account>(progId);
        }
        sky::Bstr authority(fields.authorityName);
        sky::Bstr name(fields.name);
        sky::check(account->Initialize2(
            static_cast<QVAccountAuthorityType>(fields.authorityType), authority.get(),
            static_cast<SkyloomAccountType>(fields.accountType), name.get(), credential));
        sky::check((target->*grantTo)(account.get()));
    }
    void addUser(std::u16string_view value) {
        grant(user_, u"SkyloomCOM.SkyloomUser", value, &ISkyloomWinApp4::AddUser2);
    }
    void addGroup(std::u16string_view value) {
        grant(group_, u"SkyloomCOM.SkyloomGroup", value, &ISkyloomWinApp4::AddGroup2);
    }

    // The "Icon=" line: the icon through a scratch copy in the temporary folder, then the
    // application replaces one of its name in the root folder (only when it goes there itself)
    // and is saved.
    void storeApplication(std::u16string_view iconPath) {
        ISkyloomWinApp4* target = settings();
        if (!scratch_) {
            scratch_.emplace(temporaryFolder() + u"\\brask-import-" +
                             decimal(GetCurrentProcessId()) + u".ico");
        }
        // One byte past the object model's cap is enough for it to refuse a larger file.
        scratch_->fillFrom(iconPath, sky::farm::kIconFileLimit + 1);
        sky::Bstr scratchName(scratch_->path());
        sky::check(target->ReadIconFromFile(scratchName.get(), 0));

        if (!parentFolder_ || sky::equalNoCase(*parentFolder_, kRootFolder)) {
            tolerant([&] {
                const std::u16string name =
                    getText(&ISkyloomApplication::get_AppName, state_.application.get());
                sky::Bstr distinguishedName(
                    u"Applications/" +
                    std::u16string(name.substr(0, name.find_last_not_of(u' ') + 1)));
                sky::ComPtr<ISkyloomApplication4> existing;
                sky::check(state_.farm->GetApplication4(SkyloomWinAppObject,
                                                        distinguishedName.get(), existing.put()));
                sky::callMethod(existing.get(), u"Delete");
            });
        }
        try {
            sky::check(state_.application->SaveData());
            if (observer_) {
                observer_->saved(distinguishedName());
            }
        } catch (const sky::ComError& error) {
            if (observer_) {
                observer_->passedOver(distinguishedName(), error.result(), error.description());
            }
        }
    }

    std::u16string distinguishedName() const {
        return getText(&ISkyloomApplication::get_DistinguishedName, state_.application.get());
    }

    AdminState& state_;
    Feedback& feedback_;
    std::u16string_view path_;
    SaveObserver* observer_;
    Section section_ = Section::Farm;
    // The application's folder as its "ParentFolderDN=" line set it; none: the root folder.
    std::optional<std::u16string> parentFolder_;
    // The scratch copy of each icon: one file for the run, made at its first "Icon=" line.
    std::optional<ScratchFile> scratch_;
    // The application's distinguished name, read at its first "Server=" line.
    std::optional<std::u16string> distinguishedName_;
    // The binding in state_.binding is this run's own; the account objects of the run.
    bool ownBinding_ = false;
    sky::ComPtr<ISkyloomUser5> user_;
    sky::ComPtr<ISkyloomGroup5> group_;
    // The folders (their distinguished names in capitals) whose creation this run has asked for.
    std::unordered_set<std::u16string> askedFolders_;
};

} // namespace

bool importFarm(AdminState& state, Feedback& feedback, std::u16string_view path,
                SaveObserver* observer) {
    CountedSaves counted(observer);
    const auto doneBefore = [&] {
        return stoppedText(counted.saves, std::nullopt, kApplicationsUnit, counted.passedOvers);
    };
    return withErrorPath(feedback, doneBefore,
                         [&] { FarmImport(state, feedback, path, &counted).run(); });
}

} // namespace brask
