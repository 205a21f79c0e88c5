// SPDX-License-Identifier: MIT
// Every LZW strip and tile of the real TIFF files in the shared corpus: decoded to the manifest's
// digest, old-style strips refused, damaged ones ended with a result code.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "support/codec_runs.hpp"
#include "support/corpus.hpp"
#include "support/memory_instrumented.hpp"
#include "support/sha256.hpp"
#include "support/test_host.hpp"
#include "tiff/tif_decompressor.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

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
                const auto offset = s["offset"].get<std::size_t>();
                const auto present = s["bytes_in_file"].get<std::size_t>();
                const std::vector<uint8_t> strip(file.begin() + static_cast<std::ptrdiff_t>(offset),
                                                 file.begin() + static_cast<std::ptrdiff_t>(offset + present));
                const auto row_bytes = s["bytes_per_row"].get<uint32_t>();
                const auto rows = s["rows"].get<uint32_t>();
                memory_stats_reset();
                const tif_decoded out = tif_decode_strip(strip, row_bytes, rows);
                EXPECT_EQ(memory_stats_now().live, 0);

                if (s["lzw_style"].get<std::string>().rfind("old", 0) == 0) {
                    // LSB-first data opens with bytes 00 01, never with a clear code read MSB first.
                    EXPECT_EQ(out.result, ERR_BAD_DATA);
                    EXPECT_EQ(out.rows, 0u);
                    ++refused_old;
                    continue;
                }
                const nlohmann::json &check = s["check"];
                if (s["libtiff_status"] == "ok" && check["complete_rows"] == rows) {
                    // With or without an end code, every row asked for is there.
                    EXPECT_EQ(out.result, 1);
                    EXPECT_EQ(out.rows, rows);
                    EXPECT_EQ(sha256_hex(out.bytes.data(), out.bytes.size()), s["decoded_sha256"]);
                    ++exact;
                } else {
                    // Damaged: a result code and either no row (the strip does not open with a
                    // clear code) or all of them, the complete ones first.
                    EXPECT_LE(out.result, 1);
                    EXPECT_TRUE(out.rows == rows || (out.result == ERR_BAD_DATA && out.rows == 0));
                    const auto complete = check["complete_rows"].get<std::size_t>();
                    if (complete > 0 && check["partial_sha256"].is_string()) {
                        // One-byte rows without a row count: every byte the strip decodes to.
                        const tif_decoded all = tif_decode_strip(strip, 1, 0);
                        EXPECT_EQ(sha256_hex(all.bytes.data(), all.bytes.size()), check["partial_sha256"]);
                        EXPECT_GE(all.bytes.size(), complete * row_bytes);
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
