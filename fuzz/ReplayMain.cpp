// The stand-in for libFuzzer's driver in the normal build: runs a fuzz target once on every
// file of the directories (or on the files) named on the command line, so the stored corpus is
// replayed by the tests with whatever compiler and sanitizers the build uses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadFile(const std::filesystem::path& path, std::vector<uint8_t>& content) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus directory or file>...\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path named(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(named, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(named, error)) {
                if (entry.is_regular_file()) {
                    inputs.push_back(entry.path());
                }
            }
        } else if (std::filesystem::is_regular_file(named, error)) {
            inputs.push_back(named);
        } else {
            std::fprintf(stderr, "%s: no such file or directory\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        // An empty corpus would make the replay pass without testing anything.
        std::fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    std::vector<uint8_t> content;
    for (const std::filesystem::path& input : inputs) {
        if (!ReadFile(input, content)) {
            std::fprintf(stderr, "%s: cannot be read\n", input.c_str());
            return 2;
        }
        // The input goes in a block of exactly its size, so a read past it is caught.
        const std::vector<uint8_t> exact(content);
        std::fprintf(stderr, "replaying %s\n", input.c_str());
        LLVMFuzzerTestOneInput(exact.data(), exact.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
