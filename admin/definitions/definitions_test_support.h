// What the definition tests share: a farm written into the machine's farm store and served by the
// real object model module, a folder of their own as the current directory, the file as bytes, and
// the feedback a command gave.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "core/feedback.h"
#include "core/runtime_errors.h"
#include "core/tool_error.h"
#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace brask::testing {

namespace fs = std::filesystem;

// The number of the tool's own error that `call` throws; 0 when it throws none.
template <class Call> std::int32_t errorOf(Call&& call) {
    try {
        call();
    } catch (const ToolError& error) {
        return error.number();
    }
    return 0;
}

// A Windows application in `folder`, published on `servers`.
inline sky::farm::Application application(const std::string& folder, const std::string& name,
                                          std::vector<std::string> servers = {}) {
    sky::farm::Application app;
    app.folder = folder;
    app.name = name;
    app.servers = std::move(servers);
    return app;
}

// Makes `image` the farm this machine serves, in the store its name gives.
inline void serveFarm(const sky::farm::FarmImage& image) {
    const sky::farm::StoreLocation location = sky::farm::farmStoreOnMachine(image.farm.name);
    std::error_code ignored;
    auto store = fs::exists(location.path, ignored)
                     ? sky::farm::openFarmStore(location)
                     : sky::farm::createFarmStore(location, sky::farm::FarmInfo{image.farm.name});
    ASSERT_TRUE(store) << store.status().message();
    ASSERT_TRUE((*store)->replace(image)) << image.farm.name;
    ASSERT_TRUE(sky::farm::setMachineFarmStore(location));
}

// The farm this machine serves, read from its store.
inline sky::farm::FarmImage servedFarm() {
    auto store = sky::farm::openMachineFarmStore();
    EXPECT_TRUE(store) << store.status().message();
    if (!store) {
        return {};
    }
    auto image = (*store)->image();
    EXPECT_TRUE(image) << image.status().message();
    return image ? *image : sky::farm::FarmImage{};
}

// A farm with the test's user as administrator, `servers` in one zone and nothing published.
inline sky::farm::FarmImage emptyFarm(const std::string& name,
                                      const std::vector<std::string>& servers) {
    sky::farm::FarmImage image;
    image.farm.name = name;
    image.administrators = {currentUser()};
    image.zones = {{"Main", servers.empty() ? "" : servers.front()}};
    for (const std::string& server : servers) {
        image.servers.push_back({server, "Main", 5, 2});
    }
    return image;
}

// A farm of `count` Windows applications named App1, App2, ... in the root folder, each published
// on every server of `image`.
inline void addApplications(sky::farm::FarmImage& image, int count) {
    std::vector<std::string> servers;
    for (const sky::farm::Server& server : image.servers) {
        servers.push_back(server.name);
    }
    image.applications.reserve(image.applications.size() + count);
    for (int i = 1; i <= count; ++i) {
        image.applications.push_back(
            application("Applications", "App" + std::to_string(i), servers));
    }
}

// A one-colour icon, so that icons can be told apart byte for byte.
inline sky::farm::Bytes colourIcon(std::uint32_t colour) {
    sky::farm::IconPicture picture;
    picture.pixels.fill(colour);
    return sky::farm::encodeIcon(picture);
}

inline std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// The lines of a CR LF file (without their line ends); a line end missing anywhere fails.
inline std::vector<std::string> fileLines(const fs::path& file) {
    const std::string bytes = fileBytes(file);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without CR LF at the end of " << file;
            lines.push_back(bytes.substr(start));
            break;
        }
        EXPECT_EQ(bytes.substr(start, end - start).find_first_of("\r\n"), std::string::npos)
            << "a lone line break in " << file;
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A folder of the machine as the process's current directory for the length of a test, and the
// object model registered on the test's machine; the apartment for the calls.
class DefinitionsTest : public ::testing::Test {
protected:
    DefinitionsTest() : previous_(fs::current_path()) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        work_ = sky::machine::root() / "work";
        fs::create_directories(work_);
        fs::current_path(work_);
    }
    ~DefinitionsTest() override {
        fs::current_path(previous_);
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_TRUE(objectModelBuilt())
            << "the object model module is not built: build qvcomsrv before these tests";
        registerObjectModel();
    }

    // A path in the work folder, as the host and as the tool sees it.
    fs::path hostFile(const std::string& name) const { return work_ / name; }
    std::u16string windowsFile(const std::string& name) const {
        return sky::machine::toWindowsPath(work_ / name);
    }
    std::u16string windowsWork() const { return sky::machine::toWindowsPath(work_); }

    fs::path work_;

private:
    fs::path previous_;
};

// What a command told its user.
class RecordingFeedback final : public Feedback {
public:
    struct Report {
        std::int32_t number;
        std::string description;
    };

    void progress(float value) override { progress_.push_back(value); }
    void progressDone() override { ++progressDone_; }
    void status(std::u16string_view text) override { statuses_.push_back(sky::narrow(text)); }
    void reportError(std::int32_t number, std::u16string_view description) override {
        reports_.push_back({number, sky::narrow(description)});
    }
    void notice(std::u16string_view reason, std::u16string_view title) override {
        notices_.push_back(sky::narrow(title) + ": " + sky::narrow(reason));
    }

    // The progress of a run over `count` applications: 0, then a step of 99 / count for each,
    // in fractions (whole-number division would give 14 for a seventh and end at 98).
    void expectStepsOverApplications(int count) const {
        ASSERT_EQ(progress_.size(), static_cast<std::size_t>(count) + 1);
        for (std::size_t step = 0; step < progress_.size(); ++step) {
            EXPECT_NEAR(progress_[step], step * 99.0 / count, 1e-4) << "step " << step;
        }
        EXPECT_FLOAT_EQ(progress_.back(), 99.0f);
    }
    // The one report of a run stopped by its count of applications, a 16-bit number, before any
    // step.
    void expectTooManyApplications() const {
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_EQ(reports_[0].number, kOverflow);
        EXPECT_NE(reports_[0].description.find("more than 32767 applications"), std::string::npos)
            << reports_[0].description;
        EXPECT_EQ(progress_, std::vector<float>{0.0f});
    }

    std::vector<float> progress_;
    int progressDone_ = 0;
    std::vector<std::string> statuses_;
    std::vector<Report> reports_;
    std::vector<std::string> notices_;
};

} // namespace brask::testing
