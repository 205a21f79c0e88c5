// SPDX-License-Identifier: MIT
// The encoder dictionary: first and later extensions, hash collisions, and whole generations of
// every form against a map of every string added.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "lzw/string_table.hpp"

using namespace orveln1;

namespace
{

struct table_fixture : ::testing::Test {
    // Filled with junk first: a reset must be all the dictionary needs.
    std::vector<uint8_t> table = std::vector<uint8_t>(STRING_TABLE_BYTES, 0xA5);
    void SetUp() override { string_table_reset(table.data()); }
    int32_t find(int32_t prefix, int byte)
    {
        return string_table_find(prefix, static_cast<uint8_t>(byte), table.data());
    }
    int32_t add(int32_t found, int32_t prefix, int byte, int32_t code)
    {
        return string_table_add(found, prefix, static_cast<uint8_t>(byte), code, table.data());
    }
};

// 256 extensions of one prefix: the first in its record, every later one through the hash.
TEST_F(table_fixture, AllByteValuesOfOnePrefix)
{
    int32_t next = 258;
    for (int byte = 255; byte >= 0; --byte) {
        const int32_t r = find(9, byte);
        ASSERT_EQ(r < STRING_TABLE_NONE, next != 258);
        next = add(r, 9, byte, next);
    }
    for (int byte = 0; byte < 256; ++byte)
        ASSERT_EQ(find(9, byte), 258 + (255 - byte));
}

// Generations (chains, bushy roots, random strings) to the restart against a map of every string:
// a junk block, a missed reset or a reused code's stale extension shows as a wrong hit. From 6 on
// the forms alternate on what the last left (hashed, hashed, records, hashed); from 9 on the
// records name their first extension by place, as the GIF coder keeps them.
class string_table_generations : public table_fixture, public ::testing::WithParamInterface<int>
{
};
TEST_P(string_table_generations, AgreeWithAMapOfEveryString)
{
    std::mt19937 rng(static_cast<uint32_t>(GetParam()));
    const auto hashed_in = [&](int generation) { return GetParam() >= 6 && generation != 2; };
    for (int generation = 0; generation < 4; ++generation) {
        const bool hashed = hashed_in(generation);
        const bool placed = GetParam() >= 9;
        // The whole search on records that name places, made of the coder's two halves.
        const auto find_placed = [&](int32_t prefix, uint8_t b) {
            uint32_t place = string_table_place(static_cast<uint32_t>(prefix));
            uint32_t record = 0;
            if (string_table_find_first_placed(place, b, table.data(), record))
                return static_cast<int32_t>(string_table_code_at(place));
            return string_table_find_later_placed(string_table_place(static_cast<uint32_t>(prefix)), b, record,
                                                  table.data());
        };
        std::map<std::pair<int32_t, int>, int32_t> model;
        int32_t next = 258;
        while (next < 4081) {
            int32_t prefix;
            switch (GetParam() % 3) {
            case 0: // chains: extend the newest code mostly
                prefix = rng() % 4 != 0 ? next - 1 : static_cast<int32_t>(rng() % 256);
                break;
            case 1: // bushy: roots only, few byte values
                prefix = static_cast<int32_t>(rng() % 256);
                break;
            default: // anything added so far
                prefix = static_cast<int32_t>(rng() % static_cast<uint32_t>(next));
                break;
            }
            if (prefix == 256 || prefix == 257)
                prefix = 7;
            const int byte = GetParam() % 3 == 1 ? static_cast<int>(rng() % 24) : static_cast<int>(rng() % 256);
            const auto b = static_cast<uint8_t>(byte);
            int32_t r;
            if (hashed) {
                r = string_table_find_hashed(prefix, b, table.data());
            } else if (placed) {
                r = find_placed(prefix, b);
            } else {
                r = find(prefix, byte);
                // The coders' split search gives the same answer as the whole one.
                auto first = static_cast<uint32_t>(prefix);
                uint32_t record = 0;
                if (string_table_find_first(first, b, table.data(), record))
                    ASSERT_EQ(static_cast<int32_t>(first), r);
                else
                    ASSERT_EQ(string_table_find_later(prefix, b, record, table.data()), r);
            }
            const auto it = model.find({prefix, byte});
            if (it != model.end()) {
                ASSERT_EQ(r, it->second);
                continue;
            }
            ASSERT_LT(r, 0);
            model[{prefix, byte}] = next;
            next = hashed   ? string_table_add_hashed(r, prefix, b, next, table.data())
                   : placed ? string_table_add_placed(r, prefix, b, next, table.data())
                            : add(r, prefix, byte, next);
        }
        for (const auto &[key, code] : model) {
            const auto b = static_cast<uint8_t>(key.second);
            ASSERT_EQ(hashed   ? string_table_find_hashed(key.first, b, table.data())
                      : placed ? find_placed(key.first, b)
                               : find(key.first, key.second),
                      code);
        }
        if (hashed_in(generation + 1))
            string_table_reset_hashed(table.data());
        else
            string_table_reset(table.data());
    }
}
INSTANTIATE_TEST_SUITE_P(string_table, string_table_generations, testing::Range(0, 12));

// Later extensions sharing a home slot queue after it, wrapping past the last slot.
class string_table_collisions : public table_fixture, public ::testing::WithParamInterface<uint32_t>
{
};
TEST_P(string_table_collisions, ShareAHomeSlotAndWrapAtTheEnd)
{
    const uint32_t home = GetParam();
    std::vector<std::pair<int32_t, int>> keys;
    // Prefixes above the codes the test hands out, so that no add clears their records.
    for (int32_t prefix = 300; prefix < 4080 && keys.size() < 6; ++prefix)
        for (int byte = 1; byte < 256 && keys.size() < 6; ++byte) {
            const uint32_t key = static_cast<uint32_t>(prefix) << 8 | static_cast<uint32_t>(byte);
            if ((key * string_table_detail::STRING_HASH_MULTIPLIER) >> (32 - STRING_HASH_BITS) == home)
                keys.emplace_back(prefix, byte);
        }
    ASSERT_EQ(keys.size(), 6u);
    int32_t next = 258;
    // Byte 0 is every prefix's first extension, so the keys above go to the hash.
    for (const auto &[prefix, byte] : keys)
        if (find(prefix, 0) == STRING_TABLE_NONE)
            next = add(STRING_TABLE_NONE, prefix, 0, next);
    std::vector<int32_t> codes;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        const int32_t r = find(keys[i].first, keys[i].second);
        ASSERT_LT(r, STRING_TABLE_NONE);
        codes.push_back(next);
        next = add(r, keys[i].first, keys[i].second, next);
    }
    for (std::size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(find(keys[i].first, keys[i].second), codes[i]);
    EXPECT_LT(find(keys.back().first, keys.back().second), STRING_TABLE_NONE);
    for (const auto &[prefix, byte] : keys)
        EXPECT_NE(find(prefix, 0), STRING_TABLE_NONE);
}
INSTANTIATE_TEST_SUITE_P(string_table, string_table_collisions,
                         testing::Values(0u, 1u, STRING_HASH_SLOTS / 2u, STRING_HASH_SLOTS - 2u,
                                         STRING_HASH_SLOTS - 1u));

// The direct form and the record form alternate on one block: every string added is found, every
// pair never added misses.
class string_table_direct : public ::testing::TestWithParam<int>
{
};
TEST_P(string_table_direct, AgreesWithAMapAcrossFormChanges)
{
    std::vector<uint8_t> block(STRING_DIRECT_TABLE_BYTES, 0xA5);
    std::mt19937 rng(static_cast<uint32_t>(GetParam()));
    const int32_t first_free = GetParam() % 2 == 0 ? 18 : 258; // root sizes 4 and 8
    for (int generation = 0; generation < 4; ++generation) {
        const bool direct = generation % 2 == (GetParam() / 2) % 2;
        if (direct)
            string_table_reset_direct(block.data());
        else
            string_table_reset(block.data());
        std::map<std::pair<int32_t, int>, int32_t> model;
        int32_t next = first_free;
        while (next < 4081) {
            // Chains of the newest code mostly, else any root a nibble can be.
            auto prefix = rng() % 3 != 0 ? next - 1 : static_cast<int32_t>(rng() % 16);
            if (prefix < first_free && prefix >= 16)
                prefix = 5;
            const auto pixel = static_cast<uint8_t>(rng() % 16);
            const int32_t r = direct ? string_table_find_direct(static_cast<uint32_t>(prefix), pixel, block.data())
                                     : string_table_find(prefix, pixel, block.data());
            const auto it = model.find({prefix, pixel});
            if (it != model.end()) {
                ASSERT_EQ(r, it->second);
                continue;
            }
            ASSERT_LT(r, 0);
            if (direct) {
                ASSERT_EQ(r, STRING_TABLE_NONE);
            }
            model[{prefix, pixel}] = next;
            next = direct ? string_table_add_direct(static_cast<uint32_t>(prefix), pixel, next, block.data())
                          : string_table_add(r, prefix, pixel, next, block.data());
        }
        for (int32_t prefix = 0; prefix < 4081; ++prefix) {
            if (prefix >= 16 && prefix < first_free)
                continue;
            for (uint8_t pixel = 0; pixel < 16; ++pixel) {
                const auto it = model.find({prefix, pixel});
                const int32_t r = direct ? string_table_find_direct(static_cast<uint32_t>(prefix), pixel, block.data())
                                         : string_table_find(prefix, pixel, block.data());
                if (it != model.end()) {
                    ASSERT_EQ(r, it->second);
                } else {
                    ASSERT_LT(r, 0);
                }
            }
        }
    }
}
INSTANTIATE_TEST_SUITE_P(string_table, string_table_direct, testing::Range(0, 4));

} // namespace
