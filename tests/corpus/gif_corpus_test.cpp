// SPDX-License-Identifier: MIT
// Real GIF files: each first image goes through the stream reader and decode_gif and must give
// the reference decoders' pixels for every complete row; files that the reference decoders take
// but this decoder settles otherwise are named and checked against this decoder's own rules.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "gif/gif_decompressor.hpp"
#include "orveln1.h"
#include "orveln1.hpp"
#include "support/codec_runs.hpp"
#include "support/corpus.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// One case per GIF of the manifest, or one that skips (or fails) with the reason without a manifest.
std::vector<nlohmann::json> gif_cases()
{
    std::vector<nlohmann::json> cases = shared_corpus().of_kind("gif");
    if (cases.empty())
        cases.push_back(nlohmann::json{{"name", "corpus_unavailable"}});
    return cases;
}

using gif_corpus = testing::TestWithParam<nlohmann::json>;

TEST_P(gif_corpus, DecodesToTheReferencePixels)
{
    ORVELN1_NEED_CORPUS();
    const corpus &c = shared_corpus();
    const nlohmann::json &m = GetParam();
    const std::vector<uint8_t> file = read_file(c.path(m["file"]));
    ASSERT_EQ(file.size(), m["file_bytes"].get<std::size_t>());

    // The reader finds the image and its data where the manifest has them.
    const result<gif_stream> stream = read_gif_stream(file);
    ASSERT_FALSE(stream.value.images.empty()) << error_text(stream.code);
    const gif_image &info = stream.value.images.front();
    EXPECT_EQ(nlohmann::json({info.width, info.height, info.interlaced, info.code_size_word,
                              info.sub_blocks.data() - file.data(), info.data_complete}),
              nlohmann::json({m["width"], m["height"], m["interlaced"], m["code_size_word"], m["data_offset"],
                              m["block_terminator_present"]}));

    test_host host;
    host.input.assign(info.sub_blocks.begin(), info.sub_blocks.end());
    const int32_t result = run_decode_gif(host, image_header(info.width, info.height, 8), info.code_size_word);
    const std::vector<int32_t> indices = host.values('p');
    const int32_t height = info.height;
    // Each row at most once, none outside the image.
    const std::set<int32_t> seen(indices.begin(), indices.end());
    ASSERT_TRUE(seen.size() == indices.size() && (seen.empty() || (*seen.begin() >= 0 && *seen.rbegin() < height)));

    const nlohmann::json &lzw = m["lzw"];
    if (info.width < 1 || height < 1 || !lzw.value("first_code_is_clear", true)) {
        // An image without pixels, or data not opening with a clear code, is refused before any row.
        EXPECT_EQ(result, ORVELN1_ERR_BAD_DATA);
        EXPECT_TRUE(indices.empty());
        return;
    }
    // A code size of 0 or above 8 is settled from the packed byte here (the reference decoders take
    // it as it stands): the data ends with 0 or is refused, and never faults.
    if (gif_settle_code_size(info.code_size_word).root_size != info.code_size_word >> 8) {
        EXPECT_TRUE(result == 0 || result == ORVELN1_ERR_BAD_DATA) << "code size settled from the packed byte";
        return;
    }

    // decode_gif says 0 for complete and damaged data alike.
    EXPECT_EQ(result, 0);
    const nlohmann::json &expected = m["expected"];
    std::size_t rows_to_compare = expected["rows_complete"].get<std::size_t>();
    ASSERT_GE(indices.size(), rows_to_compare) << "every row the reference decoders completed";
    std::vector<uint8_t> reference = read_file(c.path(expected["idx"]));
    const std::string name = m["name"].get<std::string>();
    const std::size_t cut = name.find(".truncated");
    if (cut != std::string::npos) {
        // The reference decoders gave up on this cut file: compare with the whole file's rows.
        reference = read_file(c.path("expected/" + name.substr(0, cut) + ".idx"));
        rows_to_compare = indices.size();
        EXPECT_GT(rows_to_compare, 0u);
    }
    const auto w = static_cast<std::size_t>(info.width);
    ASSERT_EQ(reference.size(), w * static_cast<std::size_t>(height));
    for (std::size_t k = 0; k < rows_to_compare; ++k)
        ASSERT_TRUE(std::equal(host.puts[k].bytes.begin(), host.puts[k].bytes.begin() + static_cast<std::ptrdiff_t>(w),
                               reference.begin() + static_cast<std::ptrdiff_t>(w) * indices[k]))
            << "row " << indices[k];
}

INSTANTIATE_TEST_SUITE_P(corpus, gif_corpus, testing::ValuesIn(gif_cases()),
                         [](const testing::TestParamInfo<nlohmann::json> &p) {
                             std::string n = p.param["name"].get<std::string>();
                             std::replace_if(
                                 n.begin(), n.end(), [](unsigned char ch) { return !std::isalnum(ch); }, '_');
                             return n;
                         });

} // namespace
