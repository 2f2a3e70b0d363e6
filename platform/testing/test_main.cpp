// GoogleTest main for every test program: each test runs on a fresh temporary machine, so no test
// sees another's registry or files and nothing touches the home directory.
#include <memory>

#include <gtest/gtest.h>

#include "sky/temp_machine.h"

namespace {

class FreshMachinePerTest : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        machine_ = std::make_unique<sky::testing::TempMachine>();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { machine_.reset(); }

private:
    std::unique_ptr<sky::testing::TempMachine> machine_;
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshMachinePerTest);
    return RUN_ALL_TESTS();
}
