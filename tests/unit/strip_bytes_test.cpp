// SPDX-License-Identifier: MIT
// TIFF LZW strips as plain bytes: the coder gives the reference strip, the decoder gives back
// exactly the bytes (whole, truncated or up to a limit, into growing or fixed memory), and bad
// strips, refused growth and short output are refused with their result codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orveln1.hpp"
#include "support/code_streams.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;

namespace
{

byte_vector bytes_of(const std::string &kind, std::size_t n)
{
    byte_vector b(n);
    uint32_t state = 7;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        if (kind == "flat")
            b[i] = 42;
        else if (kind == "ramp")
            b[i] = static_cast<uint8_t>(i / 5 + i % 3);
        else if (kind == "random")
            b[i] = static_cast<uint8_t>(state >> 24);
        else // photo-like: a ramp with some noise
            b[i] = static_cast<uint8_t>((i / 97) + ((state >> 16) % 7 == 0 ? state >> 28 : 0));
    }
    return b;
}

struct bytes_case {
    std::string kind;
    std::size_t size;
};

using strip_bytes = testing::TestWithParam<bytes_case>;

TEST_P(strip_bytes, EncodesTheReferenceStripAndDecodesBackExactly)
{
    const byte_vector in = bytes_of(GetParam().kind, GetParam().size);
    memory_stats_reset();
    const result<byte_vector> strip = encode_tif_bytes(in);
    ASSERT_EQ(strip.code, 0);
    EXPECT_LE(strip.value.size(), encode_tif_bytes_bound(in.size()));
    if (!in.empty()) {
        EXPECT_EQ(strip.value, test::tif_reference_encode(in));
        // The strip a one-row picture of the same bytes gives.
        picture p = make_picture(static_cast<int32_t>(in.size()), 1, 8);
        std::memcpy(p.pixels.data(), in.data(), in.size());
        EXPECT_EQ(strip.value, encode_tif_strip(p, {p.width, 8, false, false}, 0, 1).value);
    }
    const result<byte_vector> back = decode_tif_bytes(strip.value);
    ASSERT_EQ(back.code, 0);
    EXPECT_EQ(back.value, in);

    // Into fixed memory of exactly the size, and up to limits below it.
    byte_vector room(in.size());
    byte_sink fixed{room.data(), room.size()};
    const result<tif_bytes_decoded> whole = decode_tif_bytes(strip.value, fixed);
    ASSERT_EQ(whole.code, 0);
    EXPECT_EQ(whole.value.size, in.size());
    EXPECT_EQ(room, in);
    EXPECT_TRUE(whole.value.complete || whole.value.limited);
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, in.size() / 3, in.size() - in.size() / 5}) {
        if (limit >= in.size())
            continue;
        const result<byte_vector> part = decode_tif_bytes(strip.value, limit);
        ASSERT_EQ(part.code, 0) << limit;
        EXPECT_EQ(part.value, byte_vector(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(limit)));
    }

    // Cut short: the bytes decoded are a prefix of the input, and no error.
    for (const std::size_t cut : {strip.value.size() / 2, strip.value.size() - 1}) {
        byte_vector held(room.size() + 1, 0xEE);
        byte_sink sink{held.data(), held.size()};
        const result<tif_bytes_decoded> r = decode_tif_bytes(std::span<const uint8_t>(strip.value).first(cut), sink);
        ASSERT_EQ(r.code, 0) << cut;
        EXPECT_TRUE(r.value.truncated);
        EXPECT_FALSE(r.value.complete);
        ASSERT_LE(r.value.size, in.size());
        // An empty input has no bytes to compare (and may have no storage to point at).
        EXPECT_TRUE(r.value.size == 0 || std::memcmp(held.data(), in.data(), r.value.size) == 0) << cut;
        EXPECT_TRUE(cut < 3 || r.value.size > 0) << cut;
    }
    EXPECT_EQ(memory_stats_now().live, 0);
}

INSTANTIATE_TEST_SUITE_P(memory_api, strip_bytes,
                         testing::Values(bytes_case{"flat", 0}, bytes_case{"flat", 1}, bytes_case{"random", 2},
                                         bytes_case{"flat", 100000}, bytes_case{"ramp", 70000},
                                         bytes_case{"random", 300000}, bytes_case{"photo", 65536},
                                         bytes_case{"photo", 32768 * 3}, bytes_case{"photo", 1000003}),
                         [](const auto &p) { return p.param.kind + std::to_string(p.param.size); });

TEST(memory_api, StripBytesRefusalsCarryTheirResultCodes)
{
    struct bad {
        const char *what;
        std::vector<uint32_t> codes;
    };
    const bad cases[] = {
        {"no clear code first", {65, 66, 257}},
        {"a code above the next free one", {256, 65, 300, 257}},
        {"a code above the next free one after a clear code", {256, 65, 66, 256, 67, 259, 257}},
        {"the end code's neighbour as a literal", {256, 258, 257}},
    };
    for (const bad &c : cases) {
        const result<byte_vector> r = decode_tif_bytes(test::tif_codes(c.codes));
        EXPECT_EQ(r.code, ORVELN1_ERR_BAD_DATA) << c.what;
        EXPECT_TRUE(r.value.empty()) << c.what;
    }
    // Strips that end before an end code give the bytes they hold.
    EXPECT_EQ(decode_tif_bytes(test::tif_codes({256, 65, 66, 258})).value, (byte_vector{65, 66, 65, 66}));
    EXPECT_EQ(decode_tif_bytes(test::tif_codes({256})).value, byte_vector{});
    EXPECT_EQ(decode_tif_bytes(byte_vector{}).code, 0);

    // A sink that cannot grow far enough.
    const result<byte_vector> strip = encode_tif_bytes(bytes_of("photo", 200000));
    byte_vector small(1000);
    byte_sink refusing{small.data(), small.size(), [](byte_sink &, std::size_t) noexcept { return false; }};
    EXPECT_EQ(decode_tif_bytes(strip.value, refusing).code, ORVELN1_ERR_NO_MEMORY);

    // Output that does not fit.
    byte_vector out(strip.value.size() - 1);
    EXPECT_EQ(encode_tif_bytes(bytes_of("photo", 200000), out).code, ORVELN1_ERR_WRITE);
    out.resize(strip.value.size());
    const result<std::size_t> fits = encode_tif_bytes(bytes_of("photo", 200000), out);
    EXPECT_EQ(fits.code, 0);
    EXPECT_EQ(fits.value, strip.value.size());
    EXPECT_EQ(out, strip.value);
}

} // namespace
