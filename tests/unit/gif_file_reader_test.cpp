// SPDX-License-Identifier: MIT
// The C++ interface's GIF stream reader, decode_gif_file and error_text: per-image tables and
// graphic controls, refusals, cut streams read inside their bytes, a name for every result code.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "orveln1.hpp"
#include "support/code_streams.hpp"
#include "support/image_kit.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

using bytes = std::vector<uint8_t>;

bool same_bytes(std::span<const uint8_t> a, const bytes &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// Four images: the first under the global table and a transparent graphic control; the second,
// right after it, with a local table and no graphic control (the first one's does not carry over);
// the third with none either, the one before it used up by a plain text extension; the fourth after
// a comment and a graphic control without transparency.
struct some_images {
    bytes pixels[4] = {make_pixels(image_kind::noise, 5, 4, 4), make_pixels(image_kind::gradient, 9, 3, 8),
                       make_pixels(image_kind::noise, 3, 2, 4), make_pixels(image_kind::stripes, 2, 6, 4)};
    bytes data[4] = {sub_blocks(gif_reference_encode(pixels[0], 2), 7), sub_blocks(gif_reference_encode(pixels[1], 3)),
                     sub_blocks(gif_reference_encode(pixels[2], 2), 3),
                     sub_blocks(gif_reference_encode(pixels[3], 2), 1)};
    gif_stream_builder s{20, 10, 4};

    some_images()
    {
        s.graphic_control(3, 0, 1)
            .image(1, 2, 5, 4, false, 0, 2, data[0])
            .image(10, 0, 9, 3, true, 8, 3, data[1])
            .graphic_control(1, 5, 0)
            .extension(0x01, {12, 0, 0, 0, 0, 4, 0, 4, 0, 1, 1, 0, 0, 1, 'x', 0})
            .image(0, 0, 3, 2, false, 0, 2, data[2])
            .extension(0xFE, {2, 'h', 'i', 0})
            .graphic_control(-1, 700, 2)
            .image(0, 4, 2, 6, false, 0, 2, data[3])
            .trailer();
    }
};

TEST(gif_stream_reader, EveryImageWithItsOwnTableAndGraphicControl)
{
    const some_images t;
    const result<gif_stream> r = read_gif_stream(t.s.out);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(std::tuple(r.value.screen_width, r.value.screen_height, r.value.background_index), std::tuple(20, 10, 3));
    EXPECT_TRUE(same_bytes(r.value.global_colour_table, t.s.global));
    EXPECT_EQ(r.value.bytes_read, t.s.out.size());
    // Place and size, interlaced, local table, colour table entries; graphic control, transparent
    // index, delay, disposal, code-size word.
    const std::tuple<int32_t, int32_t, int32_t, int32_t, bool, bool, int> place[4] = {{1, 2, 5, 4, false, false, 4},
                                                                                      {10, 0, 9, 3, true, true, 8},
                                                                                      {0, 0, 3, 2, false, false, 4},
                                                                                      {0, 4, 2, 6, false, false, 4}};
    const std::tuple<bool, int32_t, int32_t, int, int32_t> control[4] = {
        {true, 3, 0, 1, 0x0200}, {false, -1, 0, 0, 0x03C2}, {false, -1, 0, 0, 0x0200}, {true, -1, 700, 2, 0x0200}};
    ASSERT_EQ(r.value.images.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE("image " + std::to_string(k));
        const gif_image &im = r.value.images[k];
        const int entries = static_cast<int>(im.colour_table.size() / 3);
        EXPECT_EQ(std::tuple(im.left, im.top, im.width, im.height, im.interlaced, im.local_colour_table, entries),
                  place[k]);
        EXPECT_EQ(std::tuple(im.graphic_control, im.transparent_index, im.delay, im.disposal, im.code_size_word),
                  control[k]);
        EXPECT_TRUE(same_bytes(im.colour_table,
                               im.local_colour_table ? gif_stream_builder::colour_table(entries, 100) : t.s.global));
        EXPECT_TRUE(im.data_complete);
        EXPECT_EQ(im.sub_blocks.data(), t.s.out.data() + t.s.data_offsets[k]);
        EXPECT_TRUE(same_bytes(im.sub_blocks, t.data[k]));
    }
    const std::vector<colour> palette = r.value.images[1].palette();
    ASSERT_EQ(palette.size(), 8u);
    EXPECT_EQ(palette[7], (colour{205, 210, 215}));
}

struct refusal_case {
    const char *name;
    bytes stream;
    int32_t code;
    std::size_t images;
    std::size_t bytes_read;
};

bytes with(bytes head, std::initializer_list<int> tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const bytes header89 = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
// One 1x1 image without any colour table and its data (clear, 0, end at 3 bits: 0x44 0x01).
const bytes one_image = with(header89, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0});

using gif_stream_refusal = testing::TestWithParam<refusal_case>;

TEST_P(gif_stream_refusal, StopsWithItsCodeAndKeepsWhatWasRead)
{
    const refusal_case &c = GetParam();
    const result<gif_stream> r = read_gif_stream(c.stream);
    EXPECT_EQ(r.code, c.code) << error_text(r.code);
    EXPECT_EQ(r.value.images.size(), c.images);
    EXPECT_EQ(r.value.bytes_read, c.bytes_read);
    if (c.code == 0) { // no table anywhere: empty ones
        EXPECT_TRUE(r.value.global_colour_table.empty() && r.value.images.at(0).palette().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    gif_stream_reader, gif_stream_refusal,
    testing::ValuesIn(std::vector<refusal_case>{
        {"unknown_version", {'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0}, ORVELN1_ERR_NOT_GIF, 0, 0},
        {"other_format", {'P', 'N', 'G'}, ORVELN1_ERR_NOT_GIF, 0, 0},
        {"trailer_only", with(header89, {0x3B}), ORVELN1_ERR_GIF_NO_IMAGE, 0, 14},
        {"bad_record_after_an_image", with(one_image, {0x00, 0x3B}), ORVELN1_ERR_GIF_BAD_RECORD, 1, one_image.size()},
        {"whole", with(one_image, {0x3B}), 0, 1, one_image.size() + 1},
        // A graphic control whose block is too short carries nothing, and is stepped over.
        {"short_graphic_control", with(header89, {0x21, 0xF9, 2, 1, 0, 0, 0x3B}), ORVELN1_ERR_GIF_NO_IMAGE, 0, 20},
        // A global colour table of 256 entries announced, 3 bytes present.
        {"global_table_cut", bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0, 1, 2, 3},
         ORVELN1_ERR_GIF_TRUNCATED, 0, 13},
        {"local_table_cut", with(header89, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x81, 1, 2, 3}), ORVELN1_ERR_GIF_TRUNCATED, 0,
         23}}),
    [](const testing::TestParamInfo<refusal_case> &p) { return std::string(p.param.name); });

// Every prefix of a four-image stream, copied to a block of exactly its size so that the
// sanitizers see any read past it: cut short, with the images whose data began, the last one
// marked incomplete unless its terminator is inside, every span inside the prefix.
TEST(gif_stream_reader, EveryCutIsReadInsideItsBytes)
{
    const some_images t;
    const bytes &whole = t.s.out;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        const result<gif_stream> r = read_gif_stream(prefix);
        ASSERT_EQ(r.code, ORVELN1_ERR_GIF_TRUNCATED) << n;
        std::size_t begun = 0;
        for (const std::size_t offset : t.s.data_offsets)
            begun += offset <= n;
        ASSERT_EQ(r.value.images.size(), begun) << n;
        ASSERT_LE(r.value.bytes_read, n);
        for (std::size_t k = 0; k < begun; ++k) {
            const gif_image &im = r.value.images[k];
            const std::size_t end = t.s.data_offsets[k] + t.data[k].size();
            ASSERT_EQ(im.data_complete, end <= n) << n;
            ASSERT_EQ(im.sub_blocks.size(), std::min(end, n) - t.s.data_offsets[k]) << n;
            ASSERT_TRUE(im.colour_table.empty() ||
                        (im.colour_table.data() >= prefix.data() &&
                         im.colour_table.data() + im.colour_table.size() <= prefix.data() + n));
        }
    }
}

TEST(gif_stream_reader, SubBlockContentsStopAtTheTerminatorOrTheEnd)
{
    const bytes blocks = {3, 'a', 'b', 'c', 1, 'd', 0, 9, 9};
    const std::vector<std::span<const uint8_t>> whole = gif_sub_block_contents(blocks);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_TRUE(same_bytes(whole[0], {'a', 'b', 'c'}));
    EXPECT_TRUE(same_bytes(whole[1], {'d'}));
    const std::vector<std::span<const uint8_t>> cut = gif_sub_block_contents(std::span(blocks).first(3));
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_TRUE(same_bytes(cut[0], {'a', 'b'}));
    EXPECT_TRUE(gif_sub_block_contents({}).empty());
}

// decode_gif_file picks image k out of the stream, with its own palette and transparency.
TEST(decode_gif_file, DecodesImageKWithItsPaletteAndTransparency)
{
    const some_images t;
    const int transparent[4] = {3, -1, -1, -1};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE("image " + std::to_string(k));
        const result<gif_decoded> r = decode_gif_file(t.s.out, k);
        ASSERT_EQ(r.code, 0) << error_text(r.code);
        const picture &p = r.value.image;
        EXPECT_EQ(r.value.rows_delivered, p.height);
        EXPECT_EQ(p.depth, 8);
        EXPECT_EQ(p.transparent_index, transparent[k]);
        EXPECT_EQ(p.palette, read_gif_stream(t.s.out).value.images[static_cast<std::size_t>(k)].palette());
        // The second is interlaced: its rows are coded in pass order and stored in place.
        const std::vector<int32_t> order = interlace_order(p.height, k == 1);
        const auto w = static_cast<std::size_t>(p.width);
        for (std::size_t i = 0; i < order.size(); ++i)
            EXPECT_TRUE(std::equal(&t.pixels[k][i * w], &t.pixels[k][i * w] + w, p.row(order[i]))) << "row " << i;
    }
    EXPECT_EQ(decode_gif_file(t.s.out).value.image.width, 5);
    EXPECT_EQ(decode_gif_file(t.s.out, 4).code, ORVELN1_ERR_GIF_NO_IMAGE);
    EXPECT_EQ(decode_gif_file(t.s.out, -1).code, ORVELN1_ERR_GIF_NO_IMAGE);
    EXPECT_EQ(decode_gif_file(bytes{'B', 'M', 0}).code, ORVELN1_ERR_NOT_GIF);
    // Cut inside the second image's data: the images whose data began still decode.
    const bytes cut(t.s.out.begin(), t.s.out.begin() + static_cast<std::ptrdiff_t>(t.s.data_offsets[1] + 3));
    EXPECT_EQ(decode_gif_file(cut, 0).value.rows_delivered, 4);
    const result<gif_decoded> second = decode_gif_file(cut, 1);
    EXPECT_TRUE(second.code == 0 && second.value.rows_delivered < 3);
    EXPECT_EQ(decode_gif_file(cut, 2).code, ORVELN1_ERR_GIF_TRUNCATED);
    // Data not opening with a clear code is the decoder's refusal.
    gif_stream_builder s(1, 1, 2);
    s.image(0, 0, 1, 1, false, 0, 2, bytes{1, 0x05, 0}).trailer();
    EXPECT_EQ(decode_gif_file(s.out).code, ORVELN1_ERR_BAD_DATA);
}

TEST(error_text, NamesEveryResultCode)
{
    const int32_t codes[] = {ORVELN1_ERR_NO_MEMORY,         ORVELN1_ERR_BAD_DATA,       ORVELN1_ERR_WRITE,
                             ORVELN1_ERR_UNSUPPORTED_DEPTH, ORVELN1_ERR_NO_CALLBACK,    ORVELN1_ERR_NOT_GIF,
                             ORVELN1_ERR_GIF_TRUNCATED,     ORVELN1_ERR_GIF_BAD_RECORD, ORVELN1_ERR_GIF_NO_IMAGE};
    std::set<std::string> texts = {"success"};
    for (const int32_t code : codes) { // its own text, not success nor a refusal's
        const std::string text = error_text(code);
        EXPECT_TRUE(!text.empty() && text.find("refused") == std::string::npos && texts.insert(text).second) << code;
    }
    EXPECT_EQ(error_text(ORVELN1_OK), "success");
    EXPECT_EQ(error_text(1), "success");
    EXPECT_EQ(error_text(-7), "host callback refused (-7)");
}

} // namespace
