// GoogleTest main for every test program: each test runs on a fresh temporary machine, so no test
// sees another's registry or files and nothing touches the home directory. After each test the
// process's environment and current folder must be as the test found them: a test that leaves
// them changed fails, naming what it left, and they are put back, so that the tests after it (in
// whatever order they run: GTEST_SHUFFLE, GTEST_RANDOM_SEED) do not lean on it.
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "sky/scoped_state.h"
#include "sky/temp_machine.h"

namespace {

// Variables a process sets once for its whole life on purpose: Qt's platform, chosen before the
// one application object of a test program is made, and read only then.
const std::set<std::string> kSetOncePerProcess = {"QT_QPA_PLATFORM"};

class FreshMachinePerTest : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        machine_ = std::make_unique<sky::testing::TempMachine>();
        environment_ = std::make_unique<sky::testing::ScopedEnvironment>(kSetOncePerProcess);
        std::error_code ec;
        folder_ = std::filesystem::current_path(ec);
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::string changed;
        for (const std::string& change : environment_->restore())
            changed += "\n  " + change;
        if (!changed.empty())
            ADD_FAILURE() << "the test left environment variables changed: restore them whatever "
                             "the outcome (sky/scoped_state.h):"
                          << changed;
        environment_.reset();
        std::error_code ec;
        if (std::filesystem::current_path(ec) != folder_) {
            ADD_FAILURE() << "the test left the current folder changed, to "
                          << std::filesystem::current_path(ec) << " (was " << folder_
                          << "): restore it whatever the outcome (sky/scoped_state.h)";
            std::filesystem::current_path(folder_, ec);
        }
        machine_.reset();
    }

private:
    std::unique_ptr<sky::testing::TempMachine> machine_;
    std::unique_ptr<sky::testing::ScopedEnvironment> environment_;
    std::filesystem::path folder_;
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshMachinePerTest);
    return RUN_ALL_TESTS();
}
