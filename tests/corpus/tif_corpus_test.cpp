// SPDX-License-Identifier: MIT
// Every LZW strip and tile of the real TIFF files in the shared corpus: decoded to the manifest's
// digest, old-style strips refused, damaged ones ended with a result code.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <array>
#include <bit>
#include <cstdio>
#include <string>

#include "support/codec_runs.hpp"
#include "support/corpus.hpp"
#include "support/memory_instrumented.hpp"
#include "support/test_host.hpp"
#include "tiff/tif_decompressor.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// SHA-256 (FIPS 180-4) as lower-case hex, plain and unhurried: the manifest's digests of the
// decoded strips, the largest of which has no stored blob.
std::string sha256_hex(const std::vector<uint8_t> &data)
{
    static constexpr uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    // The message padded: a one bit, zeros, and the length in bits, to a multiple of 64 bytes.
    std::vector<uint8_t> m = data;
    m.push_back(0x80);
    m.resize((m.size() + 8 + 63) / 64 * 64, 0);
    for (std::size_t i = 0; i < 8; ++i)
        m[m.size() - 1 - i] = static_cast<uint8_t>(static_cast<uint64_t>(data.size()) * 8 >> (8 * i));
    std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    for (std::size_t at = 0; at < m.size(); at += 64) {
        uint32_t w[64];
        for (std::size_t i = 0; i < 64; ++i)
            w[i] = i < 16 ? uint32_t{m[at + 4 * i]} << 24 | uint32_t{m[at + 4 * i + 1]} << 16 |
                                uint32_t{m[at + 4 * i + 2]} << 8 | m[at + 4 * i + 3]
                          : w[i - 16] + (std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3)) +
                                w[i - 7] + (std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10));
        std::array<uint32_t, 8> v = h; // a b c d e f g h
        for (std::size_t i = 0; i < 64; ++i) {
            const uint32_t t1 = v[7] + (std::rotr(v[4], 6) ^ std::rotr(v[4], 11) ^ std::rotr(v[4], 25)) +
                                ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[i] + w[i];
            const uint32_t t2 = (std::rotr(v[0], 2) ^ std::rotr(v[0], 13) ^ std::rotr(v[0], 22)) +
                                ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
            std::copy_backward(v.begin(), v.end() - 1, v.end());
            v[4] += t1;
            v[0] = t1 + t2;
        }
        for (std::size_t i = 0; i < 8; ++i)
            h[i] += v[i];
    }
    char hex[65];
    for (std::size_t i = 0; i < 8; ++i)
        std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return hex;
}

TEST(tif_corpus, EveryStripDecodesToItsGroundTruth)
{
    ORVELN1_NEED_CORPUS();
    const std::vector<nlohmann::json> entries = shared_corpus().of_kind("tiff");
    ASSERT_GE(entries.size(), 30u) << "too few TIFF files in " << shared_corpus().dir;
    std::size_t strips = 0, exact = 0, refused_old = 0;
    for (const nlohmann::json &entry : entries) {
        const std::vector<uint8_t> file = read_file(shared_corpus().path(entry["file"]));
        ASSERT_EQ(file.size(), entry["file_bytes"].get<std::size_t>()) << entry["name"];
        for (const nlohmann::json &dir : entry["directories"]) {
            for (const nlohmann::json &s : dir["strips"]) {
                SCOPED_TRACE(entry["name"].get<std::string>() + " dir " + dir["dir"].dump() + " strip " +
                             s["index"].dump());
                ++strips;
                const auto offset = s["offset"].get<std::ptrdiff_t>();
                const std::vector<uint8_t> strip(file.begin() + offset,
                                                 file.begin() + offset + s["bytes_in_file"].get<std::ptrdiff_t>());
                const auto row_bytes = s["bytes_per_row"].get<uint32_t>();
                const auto rows = s["rows"].get<uint32_t>();
                memory_stats_reset();
                const tif_decoded out = tif_decode_strip(strip, row_bytes, rows);
                EXPECT_EQ(memory_stats_now().live, 0);

                const nlohmann::json &check = s["check"];
                if (s["lzw_style"].get<std::string>().rfind("old", 0) == 0) {
                    // LSB-first data opens with bytes 00 01, never with a clear code read MSB first.
                    EXPECT_EQ(out.result, ERR_BAD_DATA);
                    EXPECT_EQ(out.rows, 0u);
                    ++refused_old;
                } else if (s["libtiff_status"] == "ok" && check["complete_rows"] == rows) {
                    // With or without an end code, every row asked for is there.
                    EXPECT_EQ(out.result, 1);
                    EXPECT_EQ(out.rows, rows);
                    EXPECT_EQ(sha256_hex(out.bytes), s["decoded_sha256"]);
                    ++exact;
                } else {
                    // Damaged: a result code and either no row (the strip does not open with a
                    // clear code) or all of them, the complete ones first.
                    EXPECT_LE(out.result, 1);
                    EXPECT_TRUE(out.rows == rows || (out.result == ERR_BAD_DATA && out.rows == 0));
                    if (check["complete_rows"] > 0 && check["partial_sha256"].is_string()) {
                        // One-byte rows without a row count: every byte the strip decodes to.
                        const tif_decoded all = tif_decode_strip(strip, 1, 0);
                        EXPECT_EQ(sha256_hex(all.bytes), check["partial_sha256"]);
                    }
                }
            }
        }
    }
    EXPECT_GE(exact, 438u);
    EXPECT_GT(refused_old, 0u);
    std::printf("corpus: %zu strips, %zu exact, %zu old-style refused\n", strips, exact, refused_old);
}

} // namespace
