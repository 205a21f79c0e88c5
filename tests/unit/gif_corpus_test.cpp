// SPDX-License-Identifier: MIT
// Real GIF files: each first image goes through the container reader and decode_gif and must give
// the reference decoders' pixels for every complete row; files that the reference decoders take
// but this decoder settles otherwise are named and checked against this decoder's own rules.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "gif/gif_decompressor.hpp"
#include "gif_container.hpp"
#include "orveln1.h"
#include "support/corpus.hpp"
#include "support/gif_test_host.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<nlohmann::json> gif_entries()
{
    return shared_corpus().of_kind("gif");
}

// The cases of the suite: one per GIF of the manifest, or a single one that skips (or fails) with
// the reason when there is no manifest to read.
std::vector<nlohmann::json> gif_cases()
{
    std::vector<nlohmann::json> cases = gif_entries();
    if (cases.empty())
        cases.push_back(nlohmann::json{{"name", "corpus_unavailable"}});
    return cases;
}

struct decoded_image {
    int32_t result = 0;
    std::vector<int32_t> indices;
    std::vector<uint8_t> pixels; // display order, width x height, rows not delivered left 0
};

decoded_image decode_file(const std::vector<uint8_t> &file, const gif_image_info &info)
{
    gif_byte_source source;
    source.data.assign(file.begin() + static_cast<std::ptrdiff_t>(info.data_offset), file.end());
    gif_row_recorder rows;
    const std::vector<uint8_t> header = make_image_header(info.width, info.height, 8);
    std::vector<uint8_t> buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    set_callbacks(source_read, nullptr, 0, nullptr);
    decoded_image d;
    d.result = decode_gif(source_handle(source), buffer.data(), header.data(), recorder_put_row, recorder_handle(rows),
                          info.code_size_word);
    set_callbacks(nullptr, nullptr, 0, nullptr);
    d.indices = rows.indices;
    const auto w = static_cast<std::size_t>(info.width);
    d.pixels.assign(w * static_cast<std::size_t>(info.height), 0);
    for (std::size_t k = 0; k < rows.rows.size(); ++k)
        std::copy_n(rows.rows[k].begin(), w, d.pixels.begin() + static_cast<std::ptrdiff_t>(w * rows.indices[k]));
    return d;
}

class gif_corpus : public testing::TestWithParam<nlohmann::json>
{
};

TEST_P(gif_corpus, DecodesToTheReferencePixels)
{
    ORVELN1_NEED_CORPUS();
    const corpus &c = shared_corpus();
    const nlohmann::json &m = GetParam();
    const std::vector<uint8_t> file = read_file(c.path(m["file"]));
    ASSERT_EQ(file.size(), m["file_bytes"].get<std::size_t>());

    gif_image_info info;
    ASSERT_EQ(gif_read_container(file.data(), file.size(), info), GIF_CONTAINER_OK);
    EXPECT_EQ(info.width, m["width"].get<int32_t>());
    EXPECT_EQ(info.height, m["height"].get<int32_t>());
    EXPECT_EQ(info.interlaced, m["interlaced"].get<bool>());
    EXPECT_EQ(info.code_size_word, m["code_size_word"].get<int32_t>());
    EXPECT_EQ(info.data_offset, m["data_offset"].get<std::size_t>());
    EXPECT_EQ(info.transparent_index, m["transparent_index"].is_null() ? -1 : m["transparent_index"].get<int32_t>());
    const int tables =
        m["local_color_table"].get<int>() ? m["local_color_table"].get<int>() : m["global_color_table"].get<int>();
    EXPECT_EQ(info.colour_table.size(), 3u * static_cast<std::size_t>(tables));

    const decoded_image d = decode_file(file, info);
    const int32_t height = info.height;
    // Each row at most once, none outside the image.
    std::vector<int> seen(static_cast<std::size_t>(height > 0 ? height : 0), 0);
    for (const int32_t r : d.indices) {
        ASSERT_TRUE(r >= 0 && r < height);
        ASSERT_EQ(++seen[static_cast<std::size_t>(r)], 1);
    }

    if (info.width < 1 || height < 1) {
        EXPECT_EQ(d.result, ORVELN1_ERR_BAD_DATA) << "an image without pixels is refused";
        return;
    }
    const int root_size = gif_settle_code_size(info.code_size_word).root_size;
    if (root_size != info.min_code_size) {
        // The reference decoders read the code size byte as it stands; here a code size of 0 or
        // above 8 is replaced by the packed byte's size field plus one. The data then decodes
        // under the wrong root size: it ends with 0 or is refused, and never faults.
        SCOPED_TRACE("code size " + std::to_string(info.min_code_size) + " settled from the packed byte as " +
                     std::to_string(root_size));
        EXPECT_TRUE(d.result == 0 || d.result == ORVELN1_ERR_BAD_DATA);
        return;
    }
    const nlohmann::json &lzw = m["lzw"];
    if (lzw.contains("first_code_is_clear") && !lzw["first_code_is_clear"].get<bool>()) {
        // The reference decoders take data that does not begin with a clear code; such data is
        // refused here, before any row.
        SCOPED_TRACE("image data does not begin with a clear code");
        EXPECT_EQ(d.result, ORVELN1_ERR_BAD_DATA);
        EXPECT_TRUE(d.indices.empty());
        return;
    }

    // decode_gif says 0 for complete and damaged data alike.
    EXPECT_EQ(d.result, 0);
    const nlohmann::json &expected = m["expected"];
    const auto rows_complete = expected["rows_complete"].get<std::size_t>();
    ASSERT_GE(d.indices.size(), rows_complete) << "every row the reference decoders completed";
    std::string blob = expected["idx"].get<std::string>();
    std::vector<uint8_t> reference = read_file(c.path(blob));
    std::size_t rows_to_compare = rows_complete;
    const std::string name = m["name"].get<std::string>();
    const std::size_t cut = name.find(".truncated");
    if (cut != std::string::npos) {
        // The reference decoders gave up on this cut file; the rows its data completes must be
        // those of the whole file.
        reference = read_file(c.path("expected/" + name.substr(0, cut) + ".idx"));
        rows_to_compare = d.indices.size();
        EXPECT_GT(rows_to_compare, 0u);
    }
    ASSERT_EQ(reference.size(), d.pixels.size());
    const auto w = static_cast<std::size_t>(info.width);
    for (std::size_t k = 0; k < rows_to_compare; ++k) {
        const auto r = static_cast<std::size_t>(d.indices[k]);
        ASSERT_TRUE(std::equal(d.pixels.begin() + static_cast<std::ptrdiff_t>(r * w),
                               d.pixels.begin() + static_cast<std::ptrdiff_t>((r + 1) * w),
                               reference.begin() + static_cast<std::ptrdiff_t>(r * w)))
            << "row " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(corpus, gif_corpus, testing::ValuesIn(gif_cases()),
                         [](const testing::TestParamInfo<nlohmann::json> &p) {
                             std::string n = p.param["name"].get<std::string>();
                             for (char &ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

// Hostile and cut streams: the container reader reads nothing outside the bytes it is given
// (each prefix is copied to a block of its own size for the sanitizers).
TEST(gif_container, EveryPrefixOfEveryCorpusFileIsReadSafely)
{
    ORVELN1_NEED_CORPUS();
    ASSERT_FALSE(gif_entries().empty());
    for (const nlohmann::json &m : gif_entries()) {
        const std::vector<uint8_t> file = read_file(shared_corpus().path(m["file"]));
        const std::size_t data_offset = m["data_offset"].get<std::size_t>();
        for (std::size_t n = 0; n <= std::min(file.size(), data_offset + 1); ++n) {
            std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            gif_image_info info;
            const int32_t r = gif_read_container(prefix.data(), prefix.size(), info);
            if (n < data_offset)
                ASSERT_EQ(r, GIF_CONTAINER_TRUNCATED) << m["name"] << " " << n;
            else
                ASSERT_EQ(r, GIF_CONTAINER_OK);
        }
    }
}

struct container_case {
    std::vector<uint8_t> bytes;
    int32_t result;
};
class gif_container_refusal : public testing::TestWithParam<container_case>
{
};
TEST_P(gif_container_refusal, RefusesWithoutReadingPastTheEnd)
{
    std::vector<uint8_t> bytes = GetParam().bytes;
    gif_image_info info;
    EXPECT_EQ(gif_read_container(bytes.data(), bytes.size(), info), GetParam().result);
}
INSTANTIATE_TEST_SUITE_P(
    gif_container, gif_container_refusal,
    testing::Values(
        container_case{{'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0}, GIF_CONTAINER_NOT_GIF},
        container_case{{'P', 'N', 'G'}, GIF_CONTAINER_NOT_GIF},
        container_case{{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}, GIF_CONTAINER_NO_IMAGE},
        container_case{{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x99}, GIF_CONTAINER_BAD_BLOCK},
        // A global colour table of 256 entries announced, 3 bytes present.
        container_case{{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0, 1, 2, 3}, GIF_CONTAINER_TRUNCATED},
        // An extension sub-block longer than the bytes left.
        container_case{{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x21, 0xF9, 200, 1},
                       GIF_CONTAINER_TRUNCATED},
        // A local colour table cut short.
        container_case{{'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x81, 1, 2, 3},
                       GIF_CONTAINER_TRUNCATED}));

TEST(gif_container, TransparencyOfTheLastGraphicControlBeforeTheImage)
{
    const std::vector<uint8_t> bytes = {'G',  'I',  'F', '8',  '9',  'a', 2, 0, 1, 0,    0x80, 0, 0,    0,    0, 0,
                                        9,    9,    9,   0x21, 0xF9, 4,   1, 0, 0, 7,    0, // transparent 7
                                        0x21, 0xFE, 2,   'h',  'i',  0,                     // a comment
                                        0x21, 0xF9, 4,   0x09, 0,    0,   1, 0,             // transparent 1
                                        0x2C, 0,    0,   0,    0,    2,   0, 1, 0, 0x40, 2,    2, 0x4C, 0x01, 0, 0x3B};
    gif_image_info info;
    ASSERT_EQ(gif_read_container(bytes.data(), bytes.size(), info), GIF_CONTAINER_OK);
    EXPECT_EQ(info.transparent_index, 1);
    EXPECT_TRUE(info.interlaced);
    EXPECT_EQ(info.code_size_word, 0x0240);
    EXPECT_EQ(info.data_offset, 52u);
    EXPECT_EQ(info.colour_table, (std::vector<uint8_t>{0, 0, 0, 9, 9, 9}));
}

} // namespace
