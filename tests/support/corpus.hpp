// SPDX-License-Identifier: MIT
// The shared corpus of real GIF and TIFF files: where it is, its manifest, whether it can be checked.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orveln1::test
{

struct corpus {
    enum class state { ready, absent, unusable };
    state status = state::absent;
    std::string dir;
    std::string problem;                 // why the corpus cannot be checked, for the skip or failure
    std::vector<nlohmann::json> entries; // every manifest line, in manifest order

    [[nodiscard]] std::vector<nlohmann::json> of_kind(std::string_view kind) const;
    [[nodiscard]] std::string path(const nlohmann::json &relative) const
    {
        return dir + "/" + relative.get<std::string>();
    }
};

// A file's bytes; empty when it cannot be read.
[[nodiscard]] std::vector<uint8_t> read_file(const std::string &path);
// Read once per process from $ORVELN1_CORPUS_DIR, else the folder the build was configured with:
// the manifest and a check that every file it names is present. Absent while ORVELN1_REQUIRE_CORPUS
// is set (to anything but empty or 0) counts as unusable.
[[nodiscard]] const corpus &shared_corpus();

} // namespace orveln1::test

// First statement of every corpus test: skips with the reason when the corpus is absent, fails when
// it cannot be checked.
#define ORVELN1_NEED_CORPUS()                                                                                          \
    do {                                                                                                               \
        const ::orveln1::test::corpus &need_corpus_ = ::orveln1::test::shared_corpus();                                \
        if (need_corpus_.status == ::orveln1::test::corpus::state::absent)                                             \
            GTEST_SKIP() << need_corpus_.problem;                                                                      \
        if (need_corpus_.status != ::orveln1::test::corpus::state::ready)                                              \
            FAIL() << need_corpus_.problem;                                                                            \
    } while (false)
