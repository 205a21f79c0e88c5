// SPDX-License-Identifier: MIT
// The encoder dictionary: the three kinds of search result and the links that additions make.
#include <gtest/gtest.h>

#include <vector>

#include "lzw/string_table.hpp"

using namespace orveln1;

namespace
{

struct table_fixture : ::testing::Test {
    std::vector<uint8_t> table = std::vector<uint8_t>(STRING_TABLE_BYTES);
    void SetUp() override { string_table_reset(table.data()); }
};

int16_t load16(const std::vector<uint8_t> &t, int at)
{
    return static_cast<int16_t>(t[at] | t[at + 1] << 8);
}

TEST_F(table_fixture, ResetLeavesEveryByteFF)
{
    for (uint8_t b : table)
        ASSERT_EQ(b, 0xFF);
}

TEST_F(table_fixture, EveryRootMissesEveryByteAfterReset)
{
    for (int root = 0; root < 256; ++root)
        for (int byte = 0; byte < 256; ++byte)
            ASSERT_EQ(string_table_find(static_cast<int16_t>(root), static_cast<uint8_t>(byte), table.data()), -1);
}

TEST_F(table_fixture, SiblingChainGivesFoundMissAndLinkPoint)
{
    ASSERT_EQ(string_table_add(-1, 65, 66, 258, table.data()), 259);
    EXPECT_EQ(string_table_find(65, 66, table.data()), 258);
    const int16_t miss = string_table_find(65, 67, table.data());
    ASSERT_EQ(miss, -258);
    EXPECT_EQ(string_table_add(miss, 65, 67, 259, table.data()), 260);
    EXPECT_EQ(load16(table, 258 * STRING_NODE_BYTES + string_node_next_sibling), 259);
    EXPECT_EQ(string_table_find(65, 67, table.data()), 259);
    EXPECT_EQ(string_table_find(65, 66, table.data()), 258);
    // The newest extension is where the next one links.
    EXPECT_EQ(string_table_find(65, 68, table.data()), -259);
}

TEST_F(table_fixture, AddedCodeWithoutExtensionMissesWithMinusOne)
{
    ASSERT_EQ(string_table_add(-1, 65, 66, 258, table.data()), 259);
    EXPECT_EQ(string_table_find(258, 66, table.data()), -1);
}

TEST_F(table_fixture, ByteFFNeverMatchesUnwrittenNodes)
{
    // Only code 258 exists; its byte is 0x10. A search for 0xFF must not stop at an untouched node.
    ASSERT_EQ(string_table_add(-1, 0, 0x10, 258, table.data()), 259);
    EXPECT_EQ(string_table_find(0, 0xFF, table.data()), -258);
    EXPECT_EQ(string_table_find(258, 0xFF, table.data()), -1);
}

TEST_F(table_fixture, CodeBeyond4095IsLinkedWithoutByte)
{
    ASSERT_EQ(string_table_add(-1, 7, 0x00, 4096, table.data()), 4097);
    EXPECT_EQ(load16(table, 7 * STRING_NODE_BYTES + string_node_first_child), 4096);
    EXPECT_EQ(table[4096 * STRING_NODE_BYTES + string_node_byte], 0xFF);
    EXPECT_EQ(table[4115 * STRING_NODE_BYTES + string_node_byte], 0xFF);
}

TEST_F(table_fixture, FullTableThenResetHandsOutTheSameCodesAgain)
{
    // Fill 258..4079 with distinct (root, byte) pairs, sibling lists of up to 20, then reset.
    int16_t next = 258;
    while (next < 4080) {
        const auto prefix = static_cast<int16_t>(next % 200);
        const auto byte = static_cast<uint8_t>(next / 200);
        const int16_t r = string_table_find(prefix, byte, table.data());
        ASSERT_LT(r, 0);
        next = string_table_add(r, prefix, byte, next, table.data());
    }
    string_table_reset(table.data());
    for (int root = 0; root < 256; ++root)
        ASSERT_EQ(string_table_find(static_cast<int16_t>(root), 3, table.data()), -1);
    EXPECT_EQ(string_table_add(-1, 1, 3, 258, table.data()), 259);
    EXPECT_EQ(string_table_find(1, 3, table.data()), 258);
}

TEST_F(table_fixture, SiblingsKeepCreationOrderAcrossAllByteValues)
{
    // 256 extensions of one prefix: each is found, and each miss names the newest one.
    int16_t next = 258;
    for (int byte = 255; byte >= 0; --byte) {
        const int16_t r = string_table_find(9, static_cast<uint8_t>(byte), table.data());
        ASSERT_EQ(r, next == 258 ? -1 : -(next - 1));
        next = string_table_add(r, 9, static_cast<uint8_t>(byte), next, table.data());
    }
    for (int byte = 0; byte < 256; ++byte)
        ASSERT_EQ(string_table_find(9, static_cast<uint8_t>(byte), table.data()), 258 + (255 - byte));
}

} // namespace
