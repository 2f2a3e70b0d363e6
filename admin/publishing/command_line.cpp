#include "publishing/command_line.h"

#include <CLI/CLI.hpp>

#include "publishing/console_commands.h"
#include "sky/text.h"

namespace brask {

namespace {

std::vector<std::u16string> wide(const std::vector<std::string>& texts) {
    std::vector<std::u16string> result;
    for (const std::string& text : texts) {
        result.push_back(sky::widen(text));
    }
    return result;
}

// `"16 colors" (0), "256 colors" (1, the default), ...`
std::string describeEntries(const OptionList& list) {
    std::string text;
    for (std::size_t position = 0; position < list.entries.size(); ++position) {
        if (!text.empty()) {
            text += ", ";
        }
        text += '"' + sky::narrow(list.entries[position].text) + "\" (" + std::to_string(position);
        if (static_cast<int>(position) == list.initial) {
            text += ", the default";
        }
        text += ')';
    }
    return text;
}

CLI::Validator entryOf(const OptionList& list) {
    return CLI::Validator(
        [&list](std::string& value) -> std::string {
            if (findOptionEntry(list, sky::widen(value))) {
                return {};
            }
            return "\"" + value + "\" is none of " + describeEntries(list);
        },
        "ENTRY");
}

const CLI::Validator kBoxNumber(
    [](std::string& value) -> std::string {
        if (parseBoxNumber(sky::widen(value))) {
            return {};
        }
        return "\"" + value + "\" is not a whole number from -32768 to 32767";
    },
    "N");

// The value of an entry given on the command line, or of the list's initial entry.
std::int32_t chosenValue(const OptionList& list, const std::string& given) {
    const int position =
        given.empty() ? list.initial : findOptionEntry(list, sky::widen(given)).value();
    return list.valueAt(position);
}

std::int16_t boxValue(const std::string& given, std::u16string_view initial) {
    return parseBoxNumber(given.empty() ? std::u16string(initial) : sky::widen(given)).value();
}

void addPairCommand(CLI::App* command, std::vector<std::string>& servers,
                    std::vector<std::string>& applications) {
    command->add_option("--server", servers, "A server to choose (repeat for more)")
        ->option_text("S")
        ->allow_extra_args(false)
        ->required();
    command->add_option("APP", applications,
                        "Applications as the application view shows them (Office\\Word)");
}

} // namespace

PublishingCommandLine::PublishingCommandLine(CLI::App& app) {
    publish_ = app.add_subcommand(
        "publish", "Publish applications on servers, as the Publish dialog does: each "
                   "application on each server, saved at once; an application already on a "
                   "server stays as it is");
    addPairCommand(publish_, publishServers_, publishApplications_);
    unpublish_ = app.add_subcommand(
        "unpublish", "Unpublish applications from servers, as the Unpublish dialog does; an "
                     "application not on a server stays as it is");
    addPairCommand(unpublish_, unpublishServers_, unpublishApplications_);

    clone_ = app.add_subcommand("clone", "Publish every application of SOURCE on the target "
                                         "servers, as the Clone dialog does; the first failure "
                                         "ends the run");
    clone_->add_option("SOURCE", cloneSource_, "The server whose applications are cloned");
    clone_->add_option("--to", cloneTargets_, "A target server (repeat for more)")
        ->option_text("T")
        ->allow_extra_args(false)
        ->required();

    options_ = app.add_subcommand(
        "options", "Set the window colours, size, encryption and audio of applications, as the "
                   "Application Options dialog does; every choice not given is the dialog's "
                   "initial one, and all seven values are written");
    options_->add_option("--colors", colors_, "Colors: " + describeEntries(kWindowColorList))
        ->check(entryOf(kWindowColorList))
        ->option_text("ENTRY");
    options_
        ->add_option("--size", size_, "Session Window Size: " + describeEntries(kWindowSizeList))
        ->check(entryOf(kWindowSizeList))
        ->option_text("ENTRY");
    options_
        ->add_option("--encryption", encryption_, "Encryption: " + describeEntries(kEncryptionList))
        ->check(entryOf(kEncryptionList))
        ->option_text("ENTRY");
    options_->add_option("--audio", audio_, "Audio: " + describeEntries(kAudioList))
        ->check(entryOf(kAudioList))
        ->option_text("ENTRY");
    options_->add_option("--width", width_, "Width, used with \"Custom...\" (default 640)")
        ->check(kBoxNumber)
        ->option_text("N");
    options_->add_option("--height", height_, "Height, used with \"Custom...\" (default 480)")
        ->check(kBoxNumber)
        ->option_text("N");
    options_
        ->add_option("--percent", percent_,
                     "Percent of the client desktop, used with \"Percent of client "
                     "desktop...\" (default 90)")
        ->check(kBoxNumber)
        ->option_text("N");
    options_->add_option("APP", optionApplications_,
                         "Applications as the application view shows them (Office\\Word)");
}

bool PublishingCommandLine::parsed() const {
    return publish_->parsed() || unpublish_->parsed() || clone_->parsed() || options_->parsed();
}

int PublishingCommandLine::run(AdminState& state, std::ostream& out, std::ostream& errors,
                               Feedback& feedback) const {
    if (publish_->parsed()) {
        return runPairsOnConsole(state, kPublishCommand, wide(publishServers_),
                                 wide(publishApplications_), out, errors, feedback);
    }
    if (unpublish_->parsed()) {
        return runPairsOnConsole(state, kUnpublishCommand, wide(unpublishServers_),
                                 wide(unpublishApplications_), out, errors, feedback);
    }
    if (clone_->parsed()) {
        return runCloneOnConsole(state, sky::widen(cloneSource_), wide(cloneTargets_), out, errors,
                                 feedback);
    }
    const OptionValues values{chosenValue(kWindowSizeList, size_),
                              chosenValue(kWindowColorList, colors_),
                              chosenValue(kEncryptionList, encryption_),
                              chosenValue(kAudioList, audio_),
                              boxValue(percent_, kInitialPercent),
                              boxValue(height_, kInitialHeight),
                              boxValue(width_, kInitialWidth)};
    return runOptionsOnConsole(state, values, wide(optionApplications_), out, errors, feedback);
}

} // namespace brask
