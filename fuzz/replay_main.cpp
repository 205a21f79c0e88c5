// SPDX-License-Identifier: MIT
// Runs a fuzz target over every file of the folders (or files) named on the command line, so that
// seeds and past findings replay under CTest where no libFuzzer runtime is linked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace
{
int replay(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Copied into an exact-size block so that a read past the input is a read past the block.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file())
                    files += replay(entry.path());
        } else {
            files += replay(path);
        }
    }
    std::printf("replayed %d inputs\n", files);
    return 0;
}
