// The main of a fuzz target in builds without libFuzzer: runs the target once on every input it
// is given (files, or directories of files), so that the tests replay each corpus, and with it
// every input that once made a parser fail, in every build. A corpus that is missing or empty
// fails the run: a target that replays nothing proves nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        const fs::path given(argv[i]);
        if (fs::is_directory(given, ec)) {
            for (const auto& entry : fs::recursive_directory_iterator(given, ec)) {
                if (entry.is_regular_file(ec))
                    inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(given, ec)) {
            inputs.push_back(given);
        } else {
            std::fprintf(stderr, "%s: no such input or corpus\n", argv[i]);
            return 1;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        // Logged before the run, so that the input that brought a crash is named.
        std::fprintf(stderr, "%s\n", input.c_str());
        // As under libFuzzer, an empty input still comes with a valid pointer.
        static const std::uint8_t nothing = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &nothing : bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
