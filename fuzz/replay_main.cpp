// SPDX-License-Identifier: MIT
// Runs a fuzz target over every file of the folders (or files) named on the command line, so that
// seeds and past findings replay under CTest where no libFuzzer runtime is linked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int files = 0;
    const auto replay = [&files](const std::filesystem::path &file) {
        // A block of exactly the input's size, so that a read past the input is a read past the block.
        std::vector<uint8_t> bytes(std::filesystem::file_size(file));
        std::ifstream(file, std::ios::binary)
            .read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++files;
    };
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i]))
            replay(argv[i]);
        else
            for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    replay(entry.path());
    }
    std::printf("replayed %d inputs\n", files);
    return 0;
}
