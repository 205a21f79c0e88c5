// SPDX-License-Identifier: MIT
// The encoder dictionary: generations of every form on one block, each after the forms the coders
// let precede it, against a map of every string added; hash collisions that wrap past the last slot.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "lzw/string_table.hpp"

using namespace orveln1;

namespace
{

enum class form { records, placed, hashed, direct };

int32_t find(form f, int32_t prefix, uint8_t byte, const uint8_t *table)
{
    const auto code = static_cast<uint32_t>(prefix);
    if (f == form::placed) { // the GIF coder's two halves on places
        uint32_t place = string_table_place(code), record = 0;
        return string_table_find_first_placed(place, byte, table, record)
                   ? static_cast<int32_t>(string_table_code_at(place))
                   : string_table_find_later_placed(string_table_place(code), byte, record, table);
    }
    return f == form::records  ? string_table_find(prefix, byte, table)
           : f == form::hashed ? string_table_find_hashed(prefix, byte, table)
                               : string_table_find_direct(code, byte, table);
}

int32_t add(form f, int32_t found, int32_t prefix, uint8_t byte, int32_t code, uint8_t *table)
{
    return f == form::records  ? string_table_add(found, prefix, byte, code, table)
           : f == form::hashed ? string_table_add_hashed(found, prefix, byte, code, table)
           : f == form::direct ? string_table_add_direct(static_cast<uint32_t>(prefix), byte, code, table)
                               : string_table_add_placed(found, prefix, byte, code, table);
}

// A missed reset or a reused code's stale extension from the generation before (of whatever form)
// shows as a wrong hit. Keys: chains of the newest code, or roots only with few
// byte values (many extensions of one prefix), or any code so far.
using string_table_generations = ::testing::TestWithParam<int>;
TEST_P(string_table_generations, AgreeWithAMapOfEveryString)
{
    // Junk first, so that a reset must be all a generation needs; or zeros, so that what a reset
    // leaves behind holds strings of the generation before.
    std::vector<uint8_t> table(STRING_DIRECT_TABLE_BYTES, GetParam() % 2 == 0 ? 0xA5 : 0x00);
    std::mt19937 rng(static_cast<uint32_t>(GetParam()));
    // Every change of form the coders make, and each form after itself.
    const form order[] = {form::records, form::records, form::placed, form::placed, form::hashed,  form::hashed,
                          form::placed,  form::direct,  form::direct, form::placed, form::records, form::records};
    for (const form f : order) {
        (f == form::hashed   ? string_table_reset_hashed
         : f == form::direct ? string_table_reset_direct
                             : string_table_reset)(table.data());
        const bool bushy = GetParam() % 3 == 1 && f != form::direct;
        const uint32_t roots = f == form::direct ? 16 : 256;
        std::map<std::pair<int32_t, uint8_t>, int32_t> model;
        int32_t next = 258;
        while (next < 4081) {
            const uint32_t pick = bushy ? 0 : GetParam() % 3 == 2 ? 3 : rng() % 4;
            auto prefix = static_cast<int32_t>(pick == 0 ? rng() % roots : pick == 3 ? rng() % next : next - 1);
            if (prefix >= static_cast<int32_t>(roots) && prefix < 258)
                prefix = 7;
            const auto byte = static_cast<uint8_t>(rng() % (bushy ? 24 : roots));
            const int32_t r = find(f, prefix, byte, table.data());
            const auto it = model.find({prefix, byte});
            if (it != model.end()) {
                ASSERT_EQ(r, it->second);
                continue;
            }
            ASSERT_LT(r, 0);
            model[{prefix, byte}] = next;
            next = add(f, r, prefix, byte, next, table.data());
        }
        for (const auto &[key, code] : model)
            ASSERT_EQ(find(f, key.first, key.second, table.data()), code);
    }
}
INSTANTIATE_TEST_SUITE_P(string_table, string_table_generations, testing::Range(0, 9));

// Later extensions sharing a home slot queue after it, wrapping past the last slot.
using string_table_collisions = ::testing::TestWithParam<uint32_t>;
TEST_P(string_table_collisions, ShareAHomeSlotAndWrapAtTheEnd)
{
    std::vector<uint8_t> table(STRING_TABLE_BYTES, 0xA5);
    string_table_reset(table.data());
    std::vector<std::pair<int32_t, uint8_t>> keys;
    // Prefixes above the codes the test hands out, so that no add clears their records.
    for (int32_t prefix = 300; prefix < 4080 && keys.size() < 6; ++prefix)
        for (int byte = 1; byte < 256 && keys.size() < 6; ++byte) {
            const uint32_t key = static_cast<uint32_t>(prefix) << 8 | static_cast<uint32_t>(byte);
            if ((key * string_table_detail::STRING_HASH_MULTIPLIER) >> (32 - STRING_HASH_BITS) == GetParam())
                keys.emplace_back(prefix, static_cast<uint8_t>(byte));
        }
    ASSERT_EQ(keys.size(), 6u);
    int32_t next = 258;
    // Byte 0 is every prefix's first extension, so the keys above go to the hash.
    for (const auto &[prefix, byte] : keys)
        if (const int32_t r = find(form::records, prefix, 0, table.data()); r == STRING_TABLE_NONE)
            next = add(form::records, r, prefix, 0, next, table.data());
    std::vector<int32_t> codes;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        const int32_t r = find(form::records, keys[i].first, keys[i].second, table.data());
        ASSERT_LT(r, STRING_TABLE_NONE);
        codes.push_back(next);
        next = add(form::records, r, keys[i].first, keys[i].second, next, table.data());
    }
    for (std::size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(find(form::records, keys[i].first, keys[i].second, table.data()), codes[i]);
    EXPECT_LT(find(form::records, keys.back().first, keys.back().second, table.data()), STRING_TABLE_NONE);
}
INSTANTIATE_TEST_SUITE_P(string_table, string_table_collisions,
                         testing::Values(0u, STRING_HASH_SLOTS / 2u, STRING_HASH_SLOTS - 2u, STRING_HASH_SLOTS - 1u));

} // namespace
