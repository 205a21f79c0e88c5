// SPDX-License-Identifier: MIT
// The LZW core's code orders and its stretch of roots, in both bit orders: codes read off a window
// match a bit-by-bit reader at every width and offset, and a stretch takes exactly the roots that
// lie within its bounds, defines their entries, and leaves the first other code unread.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lzw/lzw_code_order.hpp"
#include "lzw/lzw_root_stretch.hpp"
#include "support/code_streams.hpp"

using namespace orveln1;
using orveln1::test::bit_order;
using orveln1::test::bit_reader;

namespace
{

// Codes at one fixed width, in the order given, with zero bytes past them for the window loads.
std::vector<uint8_t> packed(const std::vector<uint32_t> &codes, uint32_t width, bit_order order, uint32_t skip_bits)
{
    std::vector<uint8_t> bytes((skip_bits + codes.size() * width + 7) / 8 + 16, 0);
    std::size_t bit = skip_bits;
    for (const uint32_t code : codes)
        for (uint32_t i = 0; i < width; ++i, ++bit) {
            const uint32_t b = order == bit_order::lsb_first ? code >> i & 1 : code >> (width - 1 - i) & 1;
            bytes[bit / 8] |= static_cast<uint8_t>(order == bit_order::lsb_first ? b << (bit % 8) : b << (7 - bit % 8));
        }
    return bytes;
}

template <typename Order>
uint32_t code_at(const std::vector<uint8_t> &bytes, uint32_t bit_pos, uint32_t skip, uint32_t width)
{
    return Order::code(Order::window(bytes.data(), bit_pos), skip, width);
}

TEST(code_order, WindowCodesMatchABitReaderAtEveryWidthAndOffset)
{
    for (const bit_order order : {bit_order::lsb_first, bit_order::msb_first})
        for (uint32_t width = 2; width <= 12; ++width)
            for (uint32_t offset = 0; offset < 8; ++offset) {
                SCOPED_TRACE(testing::Message() << (order == bit_order::lsb_first ? "lsb" : "msb") << " width " << width
                                                << " offset " << offset);
                std::vector<uint32_t> codes;
                for (uint32_t k = 0; k < 24; ++k)
                    codes.push_back((k * 2654435761u >> 7) & ((1u << width) - 1));
                const std::vector<uint8_t> bytes = packed(codes, width, order, offset);
                bit_reader reader(bytes, order);
                uint32_t skipped = 0;
                ASSERT_TRUE(offset == 0 || reader.next(static_cast<int>(offset), skipped));
                for (std::size_t k = 0; k + 1 < codes.size(); ++k) {
                    uint32_t want = 0;
                    ASSERT_TRUE(reader.next(static_cast<int>(width), want));
                    ASSERT_EQ(want, codes[k]);
                    const auto bit_pos = static_cast<uint32_t>(offset + k * width);
                    // The code at its own position, and as the second of a window that starts one code
                    // earlier (a window holds two codes on every target).
                    const uint32_t got = order == bit_order::lsb_first
                                             ? code_at<lzw_lsb_first>(bytes, bit_pos, 0, width)
                                             : code_at<lzw_msb_first>(bytes, bit_pos, 0, width);
                    ASSERT_EQ(got, want) << "code " << k;
                    if (k == 0)
                        continue;
                    const uint32_t second = order == bit_order::lsb_first
                                                ? code_at<lzw_lsb_first>(bytes, bit_pos - width, width, width)
                                                : code_at<lzw_msb_first>(bytes, bit_pos - width, width, width);
                    ASSERT_EQ(second, want) << "second code of the window at " << k - 1;
                }
            }
}

// One stretch: codes at `width` bits in `order`, roots below `roots`; the bounds in codes from the
// start (bit_bound is that many codes in) and in output bytes.
struct stretch_case {
    const char *name;
    bit_order order;
    uint32_t width;
    uint32_t roots;
    bool in_fours;
    std::vector<uint32_t> codes;
    uint32_t bound_codes;
    uint32_t room;
    uint32_t taken; // the roots the stretch should take
};

template <typename Order> lzw_roots_state run_stretch(const stretch_case &c, std::vector<uint8_t> &out, uint8_t *block)
{
    const std::vector<uint8_t> bytes = packed(c.codes, c.width, c.order, 3);
    lzw_decode_table table(block);
    table.reset(c.roots);
    lzw_roots_state state{3, c.roots + 2, 7, out.data()};
    lzw_take_roots<Order>(table, bytes.data(), 3 + c.bound_codes * c.width, out.data() + c.room, c.roots, c.width,
                          c.in_fours, state);
    return state;
}

TEST(root_stretch, TakesTheRootsWithinItsBoundsAndDefinesTheirEntries)
{
    const std::vector<uint32_t> roots_then_other = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 300, 12};
    const std::vector<stretch_case> cases = {
        {"tiff fours up to a code that is no root", bit_order::msb_first, 9, 256, true, roots_then_other, 13, 64, 11},
        {"tiff one by one", bit_order::msb_first, 12, 256, false, roots_then_other, 13, 64, 11},
        {"tiff bit bound inside a window of four", bit_order::msb_first, 10, 256, true, roots_then_other, 6, 64, 6},
        {"tiff output room inside a window of four", bit_order::msb_first, 11, 256, true, roots_then_other, 13, 5, 5},
        {"gif roots below the clear code 16", bit_order::lsb_first, 5, 16, true, {1, 15, 3, 16, 2}, 5, 64, 3},
        {"gif fours at width 12", bit_order::lsb_first, 12, 256, true, roots_then_other, 13, 64, 11},
        {"a first code that is no root", bit_order::lsb_first, 9, 256, true, {256, 1, 2, 3, 4}, 5, 64, 0},
        {"no room", bit_order::msb_first, 9, 256, true, roots_then_other, 13, 0, 0},
    };
    std::vector<uint8_t> block(LZW_DECODE_TABLE_BYTES);
    for (const stretch_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out(80, 0xEE);
        const lzw_roots_state s = c.order == bit_order::lsb_first ? run_stretch<lzw_lsb_first>(c, out, block.data())
                                                                  : run_stretch<lzw_msb_first>(c, out, block.data());
        // The first code not taken is left unread, and the next free code counts the entries.
        EXPECT_EQ(s.bit_pos, 3 + c.taken * c.width);
        EXPECT_EQ(s.next_code, c.roots + 2 + c.taken);
        EXPECT_EQ(s.out, out.data() + c.taken);
        EXPECT_EQ(s.last, c.taken == 0 ? 7u : c.codes[c.taken - 1]);
        const lzw_decode_table table(block.data());
        uint32_t before = 7;
        for (uint32_t k = 0; k < c.taken; ++k) {
            EXPECT_EQ(out[k], c.codes[k]) << "byte " << k;
            // Each entry is the root before followed by this one.
            EXPECT_EQ(table.length(c.roots + 2 + k), 2u) << "entry " << k;
            EXPECT_EQ(table.word(c.roots + 2 + k), uint64_t{before | c.codes[k] << 8}) << "entry " << k;
            before = c.codes[k];
        }
        for (std::size_t k = c.taken; k < out.size(); ++k)
            ASSERT_EQ(out[k], 0xEE) << "byte past the stretch at " << k;
    }
}

} // namespace
