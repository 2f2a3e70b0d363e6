// A FIFO for a program under test to write its output into, and the reader at its other end,
// reading on a thread of its own until the writer closes it.
//
// A program that replaces the FIFO with a file of its own never opens it, and the reader would
// wait for ever; `finish` therefore opens the FIFO for a moment through a second name of it (a
// hard link in the machine directory), which ends the reader's wait, and the test fails on what
// was read instead of hanging.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "sky/machine.h"

namespace sky::testing {

class FifoReader {
public:
    explicit FifoReader(std::filesystem::path path)
        : path_(std::move(path)),
          keep_(sky::machine::root() /
                (".fifo-" + path_.filename().string() + "-" + std::to_string(++count()))) {
        if (::mkfifo(path_.c_str(), 0600) != 0)
            throw std::filesystem::filesystem_error(
                "mkfifo", path_, std::error_code(errno, std::generic_category()));
        std::filesystem::create_hard_link(path_, keep_);
        read_ = std::async(std::launch::async, [this] {
            std::ifstream in(keep_, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
        });
    }
    ~FifoReader() {
        if (read_.valid())
            finish();
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    // What was written once the writer is gone (or nothing, when no writer came).
    std::string finish() {
        while (read_.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            const int fd = ::open(keep_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        }
        std::error_code ignored;
        std::filesystem::remove(keep_, ignored);
        return read_.get();
    }

private:
    static int& count() {
        static int made = 0;
        return made;
    }

    std::filesystem::path path_;
    std::filesystem::path keep_;
    std::future<std::string> read_;
};

} // namespace sky::testing
