// The encoders' LZW dictionary: a trie of 5-byte nodes in first-child/next-sibling form, indexed by
// code, in one block of STRING_TABLE_BYTES. Both compressors search and extend it per input byte,
// so the three operations are inline.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace orveln1
{

// 4096 codes of a 12-bit LZW, plus room for the links of codes an encoder could hand out past its
// last restart point; 4116 nodes of 5 bytes make the 20580-byte block.
constexpr int STRING_TABLE_NODES = 4116;
constexpr int STRING_NODE_BYTES = 5;
constexpr int STRING_TABLE_BYTES = STRING_TABLE_NODES * STRING_NODE_BYTES;
static_assert(STRING_TABLE_BYTES == 20580);

// Codes from this one up have a link but no byte: no 12-bit code can name them.
constexpr int16_t string_table_first_unnamed = 4096;

// Node layout: first_child (int16), next_sibling (int16), byte (uint8), packed, little-endian.
constexpr int string_node_first_child = 0;
constexpr int string_node_next_sibling = 2;
constexpr int string_node_byte = 4;

namespace string_table_detail
{
inline uint8_t *node(uint8_t *table, int code) noexcept
{
    return table + code * STRING_NODE_BYTES;
}
inline int16_t load16(const uint8_t *p) noexcept
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap16(v);
    return static_cast<int16_t>(v);
}
// Links are kept little-endian on every machine, as the layout above says.
inline void store16(uint8_t *p, int16_t v) noexcept
{
    uint16_t u = static_cast<uint16_t>(v);
    if constexpr (std::endian::native == std::endian::big)
        u = __builtin_bswap16(u);
    std::memcpy(p, &u, sizeof u);
}
} // namespace string_table_detail

// Empties the dictionary: every link becomes -1 (0xFFFF) and every byte 0xFF.
inline void string_table_reset(uint8_t *table) noexcept
{
    std::memset(table, 0xFF, STRING_TABLE_BYTES);
}

// Looks for the string prefix+byte. Returns its code when present; -1 when the prefix has no
// extension yet; otherwise minus the code of the prefix's newest extension, behind which
// string_table_add links the new one.
inline int16_t string_table_find(int16_t prefix, uint8_t byte, const uint8_t *table) noexcept
{
    using namespace string_table_detail;
    int16_t c = load16(table + prefix * STRING_NODE_BYTES + string_node_first_child);
    if (c < 0)
        return -1;
    for (;;) {
        const uint8_t *n = table + c * STRING_NODE_BYTES;
        if (n[string_node_byte] == byte)
            return c;
        const int16_t next = load16(n + string_node_next_sibling);
        if (next < 0)
            return static_cast<int16_t>(-c);
        c = next;
    }
}

// Links new_code as the extension of prefix by byte, behind the node that the failed search
// (find_result) reported, and returns the next free code.
inline int16_t string_table_add(int16_t find_result, int16_t prefix, uint8_t byte, int16_t new_code,
                                uint8_t *table) noexcept
{
    using namespace string_table_detail;
    if (find_result == -1)
        store16(node(table, prefix) + string_node_first_child, new_code);
    else
        store16(node(table, -find_result) + string_node_next_sibling, new_code);
    if (new_code < string_table_first_unnamed)
        node(table, new_code)[string_node_byte] = byte;
    return static_cast<int16_t>(new_code + 1);
}

} // namespace orveln1
