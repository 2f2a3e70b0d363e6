// Output files: a regular file replaced whole, anything else written into as it stands. The
// devices here are nodes the test makes in its own machine directory, never the system's.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "sky/fifo_reader.h"
#include "sky/machine.h"
#include "sky/output_file.h"

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct stat statusOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// The names in a folder, so that a test sees no temporary file was left behind.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path folder() {
    const fs::path dir = sky::machine::root() / "out";
    fs::create_directories(dir);
    return dir;
}

} // namespace

TEST(OutputFile, ARegularFileIsReplacedWholeKeepingItsMode) {
    const fs::path file = folder() / "dump.json";
    ASSERT_FALSE(sky::writeOutputFile(file, "first", 0640));
    EXPECT_EQ(contents(file), "first");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(statusOf(file).st_mode & 07777, 0640u & ~mask) << "a new file: the mode less umask";

    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
    const ino_t before = statusOf(file).st_ino;
    ASSERT_FALSE(sky::writeOutputFile(file, "second, longer than the first"));
    EXPECT_EQ(contents(file), "second, longer than the first");
    EXPECT_NE(statusOf(file).st_ino, before) << "replaced, not rewritten in place";
    EXPECT_EQ(statusOf(file).st_mode & 07777, 0604u);
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{"dump.json"});

    // A link to a regular file stays a link; the file it leads to is replaced.
    const fs::path link = folder() / "latest.json";
    fs::create_symlink("dump.json", link);
    ASSERT_FALSE(sky::writeOutputFile(link, "third"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(file), "third");
    EXPECT_EQ(namesIn(folder()), (std::vector<std::string>{"dump.json", "latest.json"}));
}

TEST(OutputFile, FailuresLeaveTheOldFileAndNoOther) {
    const fs::path file = folder() / "kept.txt";
    ASSERT_FALSE(sky::writeOutputFile(file, "old"));
    EXPECT_EQ(sky::writeOutputFile(folder(), "x"), std::errc::is_a_directory);
    EXPECT_EQ(sky::writeOutputFile(folder() / "missing" / "f", "x"),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(sky::writeOutputFile(file / "below", "x"), std::errc::not_a_directory);
    EXPECT_EQ(contents(file), "old");
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{"kept.txt"});
}

TEST(OutputFile, AFifoIsWrittenIntoAndStaysAFifo) {
    const fs::path fifo = folder() / "pipe";
    {
        sky::testing::FifoReader reader(fifo);
        ASSERT_FALSE(sky::writeOutputFile(fifo, "through the pipe"));
        EXPECT_EQ(reader.finish(), "through the pipe");
        EXPECT_TRUE(S_ISFIFO(statusOf(fifo).st_mode));
    }
    // Through a link, the link and the FIFO both stay.
    fs::remove(fifo);
    const fs::path link = folder() / "pipe-link";
    fs::create_symlink(fifo, link);
    sky::testing::FifoReader reader(fifo);
    ASSERT_FALSE(sky::writeOutputFile(link, "again"));
    EXPECT_EQ(reader.finish(), "again");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(S_ISFIFO(statusOf(fifo).st_mode));
    EXPECT_EQ(namesIn(folder()), (std::vector<std::string>{"pipe", "pipe-link"}));
}

TEST(OutputFile, ADeviceIsWrittenIntoAndStaysADevice) {
    // A null device of the test's own, as root can make one.
    const fs::path device = folder() / "null";
    ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0)
        << "the test makes a device node of its own: it needs root";
    ASSERT_FALSE(sky::writeOutputFile(device, "discarded"));
    const struct stat st = statusOf(device);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{"null"});
}

// An output made as it is written: its pieces land in order (gathered into larger writes, and a
// piece larger than those written as it stands); a producer that gives up leaves the regular file
// as it was and no other, and says so; into a FIFO, the pieces go as they come.
TEST(OutputFile, AnOutputMadeAsItIsWrittenLandsWholeOrNotAtAll) {
    const fs::path file = folder() / "made.txt";
    ASSERT_FALSE(sky::writeOutputFile(file, "old"));
    std::string expected;
    const sky::OutputProducer pieces = [&expected](const sky::OutputWriter& write) {
        for (int i = 0; i < 3000; ++i) {
            const std::string piece = std::string(static_cast<std::size_t>(i % 700), 'a' + i % 26) +
                                      (i == 1500 ? std::string(3 << 20, 'z') : std::string());
            expected += piece;
            if (!write(piece))
                return false;
        }
        return true;
    };
    ASSERT_FALSE(sky::writeOutputFile(file, pieces));
    EXPECT_EQ(contents(file), expected);

    bool wrote = false;
    const sky::OutputProducer givingUp = [&wrote](const sky::OutputWriter& write) {
        wrote = write("a part");
        return false;
    };
    EXPECT_EQ(sky::writeOutputFile(file, givingUp), std::errc::operation_canceled);
    EXPECT_TRUE(wrote);
    EXPECT_EQ(contents(file), expected);
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{"made.txt"});

    const fs::path fifo = folder() / "pipe";
    sky::testing::FifoReader reader(fifo);
    expected.clear();
    ASSERT_FALSE(sky::writeOutputFile(fifo, pieces));
    EXPECT_EQ(reader.finish(), expected);
}
