// SPDX-License-Identifier: MIT
// The encoders' LZW dictionary: per code its first extension held inline, every later extension in
// a small open-addressing hash of (prefix, byte), in one block of STRING_TABLE_BYTES; or, for a
// generation of short strings, every string in the hash. Both compressors search and extend it per
// input byte, so the operations are inline.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/compiler.hpp"

namespace orveln1
{

// Codes the encoders hand out: both restart before their next code passes 4080.
constexpr int STRING_TABLE_CODES = 4096;
// The hash holds the extensions after a prefix's first, or in the hashed form every string, at most
// 4096 - 258 of them, so it is never more than a quarter full and a miss ends after a probe or two. (2^13 slots cost
// random-looking images about a fifth of their speed in longer probes.)
constexpr int STRING_HASH_BITS = 14;
constexpr int STRING_HASH_SLOTS = 1 << STRING_HASH_BITS;
// Block layout: the per-code records, then the hash slots, 32 bits each.
constexpr int STRING_TABLE_BYTES = (STRING_TABLE_CODES + STRING_HASH_SLOTS) * 4;
static_assert(STRING_TABLE_BYTES == 81920);
static_assert(4 * STRING_TABLE_CODES <= STRING_HASH_SLOTS);

// What string_table_find returns when the prefix has no extension at all: string_table_add makes
// the new code the prefix's first extension. Other misses are STRING_TABLE_NONE minus 1 minus the
// hash slot where the new code goes.
constexpr int32_t STRING_TABLE_NONE = -1;

// The dictionary's form in a generation, from one reset to the next: first extension inline,
// hashed, or, when every pixel is below 16, direct rows.
enum class dictionary_form { first, hashed, direct };

namespace string_table_detail
{
// A code's record: in bits 16 and up a set bit 8 and the byte in bits 0-7, in bits 0-15 the place
// of its first extension (string_table_place); 0 while the code has no extension. The set bit
// keeps a record for byte 0 from reading as empty. The place half is read on its own, so that
// following a run of first extensions is one load per byte with no arithmetic in between.
constexpr uint32_t STRING_RECORD_USED = 0x100;
constexpr int STRING_RECORD_KEY_SHIFT = 16;
static_assert(STRING_TABLE_CODES * 4 <= 1 << 16);
// Where the place half lies in the record's four bytes.
constexpr std::size_t STRING_RECORD_CODE_BYTE = std::endian::native == std::endian::little ? 0 : 2;
// A hash slot: the key prefix << 8 | byte, bits 12 and up, the code in bits 0-11; 0 is empty (no
// code below 4 is ever added, so no used slot is 0).
constexpr int STRING_SLOT_CODE_BITS = 12;
constexpr uint32_t STRING_SLOT_CODE_MASK = (1u << STRING_SLOT_CODE_BITS) - 1;
static_assert(STRING_TABLE_CODES <= 1 << STRING_SLOT_CODE_BITS);
// Fibonacci hashing: the key times 2^32 / phi, top bits.
constexpr uint32_t STRING_HASH_MULTIPLIER = 0x9E3779B1u;

inline uint32_t *records(uint8_t *table) noexcept
{
    return reinterpret_cast<uint32_t *>(table);
}
inline const uint32_t *records(const uint8_t *table) noexcept
{
    return reinterpret_cast<const uint32_t *>(table);
}
inline uint32_t *slots(uint8_t *table) noexcept
{
    return records(table) + STRING_TABLE_CODES;
}
inline const uint32_t *slots(const uint8_t *table) noexcept
{
    return records(table) + STRING_TABLE_CODES;
}
constexpr uint32_t key_of(int32_t prefix, uint8_t byte) noexcept
{
    return static_cast<uint32_t>(prefix) << 8 | byte;
}

// The later extensions: linear probing from the key's home slot to the key or an empty slot.
inline int32_t probe_key(uint32_t key, const uint8_t *table) noexcept
{
    const uint32_t *const s = slots(table);
    uint32_t slot = (key * STRING_HASH_MULTIPLIER) >> (32 - STRING_HASH_BITS);
    for (;;) {
        const uint32_t entry = s[slot];
        if (entry == 0)
            return STRING_TABLE_NONE - 1 - static_cast<int32_t>(slot);
        if (entry >> STRING_SLOT_CODE_BITS == key)
            return static_cast<int32_t>(entry & STRING_SLOT_CODE_MASK);
        slot = (slot + 1) & (STRING_HASH_SLOTS - 1);
    }
}
} // namespace string_table_detail

// Empties the dictionary for a new generation: the roots' records and every hash slot. Records of
// later codes are cleared as the codes are added.
inline void string_table_reset(uint8_t *table) noexcept
{
    using namespace string_table_detail;
    std::memset(records(table), 0, 256 * sizeof(uint32_t));
    std::memset(slots(table), 0, STRING_HASH_SLOTS * sizeof(uint32_t));
}

// A search in two halves, for a coder that holds the string as its record's place (its code times
// 4): the record of a code names its first extension by that extension's place, so following a
// run of first extensions is one load whose result is the next load's address, with no arithmetic
// in between. string_table_find and string_table_add are the same searches and additions on codes.
constexpr uint32_t string_table_place(uint32_t code) noexcept
{
    return code * 4;
}
constexpr uint32_t string_table_code_at(uint32_t place) noexcept
{
    return place / 4;
}
// The cheap half of a search. `record` receives the record of the string at `place`; when
// string+byte is that string's first extension, `place` becomes the extension's place and the
// result is true. A run of repeats is answered here with one load per byte.
inline bool string_table_find_first_placed(uint32_t &place, uint8_t byte, const uint8_t *table,
                                           uint32_t &record) noexcept
{
    using namespace string_table_detail;
    std::memcpy(&record, table + place, 4);
    if (record >> STRING_RECORD_KEY_SHIFT != (STRING_RECORD_USED | byte))
        return false;
    uint16_t next;
    // An empty barrier: without it the compiler keeps table + place from the record's load in a
    // register and adds it first, one more step in the chain of dependent loads (a fifth of the
    // time on images of long runs). With it the load takes its address from table and place.
    // On x86 the barrier also moves the table's address into one of the four registers a, b, c, d:
    // held in rbp or r13 it makes the load carry a zero displacement, and a load whose address
    // adds a base, an index and a displacement costs a cycle more, a fifth of the time on images
    // of long runs.
    const uint8_t *base = table;
    ORVELN1_INDEX_BASE_BARRIER(place, base);
    std::memcpy(&next, base + place + STRING_RECORD_CODE_BYTE, 2);
    place = next;
    return true;
}
// The rest of a search after string_table_find_first_placed failed on the string's record: the
// result string_table_find gives. The hash key comes from the place as it stands (a code times 4
// shifted by 6 is the code shifted by 8).
inline int32_t string_table_find_later_placed(uint32_t place, uint8_t byte, uint32_t record,
                                              const uint8_t *table) noexcept
{
    if (record == 0)
        return STRING_TABLE_NONE;
    static_assert(string_table_place(1) << 6 == 1 << 8);
    return string_table_detail::probe_key(place << 6 | byte, table);
}
// Adds new_code as the string prefix+byte (prefix a code), where the failed search (find_result)
// said, and returns the next free code.
inline int32_t string_table_add_placed(int32_t find_result, int32_t prefix, uint8_t byte, int32_t new_code,
                                       uint8_t *table) noexcept
{
    using namespace string_table_detail;
    const auto code = static_cast<uint32_t>(new_code);
    if (find_result == STRING_TABLE_NONE)
        records(table)[static_cast<uint32_t>(prefix)] =
            (STRING_RECORD_USED | byte) << STRING_RECORD_KEY_SHIFT | string_table_place(code);
    else
        slots(table)[STRING_TABLE_NONE - 1 - find_result] = key_of(prefix, byte) << STRING_SLOT_CODE_BITS | code;
    records(table)[code] = 0;
    return new_code + 1;
}

// Follows the first extensions of the string at `place` through bytes that all repeat one byte,
// from p up to end: returns the first byte not taken, `place` the string reached. The extensions of
// a run made where the run was all there was to code (a flat area) are codes handed out one after
// another, so each record of such a stretch is known before it is loaded: 8 of them are checked at
// once, off the chain of dependent loads that following them one by one is. A stretch that breaks
// is followed one byte at a time for 8 bytes; a byte with no first extension is left to the
// caller's search.
inline const uint8_t *string_table_follow_run(uint32_t &place, const uint8_t *p, const uint8_t *end,
                                              const uint8_t *table) noexcept
{
    using namespace string_table_detail;
    constexpr std::ptrdiff_t STEPS = 8;
    if (p == end)
        return p;
    const uint8_t byte = *p;
    const uint32_t key = (STRING_RECORD_USED | byte) << STRING_RECORD_KEY_SHIFT;
    uint32_t at = place;
    uint32_t record;
    for (;;) {
        while (end - p >= STEPS) {
            // The records of at's code and the 7 after it, each naming the next code's place, read
            // one by one: copied to an array first, they went through the stack on 32-bit targets.
            uint32_t differ = 0;
            for (uint32_t j = 0; j < STEPS; ++j) {
                uint32_t record_ahead;
                std::memcpy(&record_ahead, table + at + string_table_place(j), 4);
                differ |= record_ahead ^ (key | (at + string_table_place(j + 1)));
            }
            if (differ != 0)
                break;
            at += string_table_place(STEPS);
            p += STEPS;
        }
        for (std::ptrdiff_t j = 0; j < STEPS; ++j, ++p)
            if (p == end || !string_table_find_first_placed(at, byte, table, record)) {
                place = at;
                return p;
            }
    }
}

// Where the bytes from p on all repeat *p: the end of that run, at most end.
inline const uint8_t *string_table_run_end(const uint8_t *p, const uint8_t *end) noexcept
{
    if (p == end)
        return p;
    const uint64_t repeated = 0x0101010101010101ull * *p;
    while (end - p >= 8) {
        uint64_t bytes;
        std::memcpy(&bytes, p, 8);
        if (bytes != repeated)
            break;
        p += 8;
    }
    const uint8_t byte = static_cast<uint8_t>(repeated);
    while (p != end && *p == byte)
        ++p;
    return p;
}

// The dictionary in its hashed form, for a generation of short strings: every string in the hash,
// the records unused. When most searches miss or follow a later extension, as on photo-like
// images, the record is a load and a mispredicted branch that seldom answers; one probe decides
// between found and new alone. A generation uses one form from its reset to the next.
//
// Its slots hold 16-bit codes in the front half of the slot area, and each code's key sits in the
// code's record: 16 KiB of keys and 32 KiB of slots, where 32-bit slots that carry the key span
// 64 KiB. The smaller set stays in the first level cache, which a probe of the larger one mostly
// misses; the key load after the slot load is off the critical path whenever found-or-new is
// predicted, as the next search starts from the slot's code. A slot of 0 is empty, as no code
// below 4 is ever added.
constexpr int STRING_HASHED_SLOT_BYTES = STRING_HASH_SLOTS * 2;
static_assert(STRING_HASHED_SLOT_BYTES <= STRING_HASH_SLOTS * 4);

namespace string_table_detail
{
inline uint16_t *short_slots(uint8_t *table) noexcept
{
    return reinterpret_cast<uint16_t *>(slots(table));
}
inline const uint16_t *short_slots(const uint8_t *table) noexcept
{
    return reinterpret_cast<const uint16_t *>(slots(table));
}
} // namespace string_table_detail

// Empties the hashed form for a new generation: its slots only. Keys are written as codes are
// added and read only through a slot that names the code.
inline void string_table_reset_hashed(uint8_t *table) noexcept
{
    std::memset(string_table_detail::short_slots(table), 0, STRING_HASHED_SLOT_BYTES);
}

// Looks for prefix+byte in the hash alone: its code when present, else a value below
// STRING_TABLE_NONE that tells string_table_add_hashed where it goes.
inline int32_t string_table_find_hashed(int32_t prefix, uint8_t byte, const uint8_t *table) noexcept
{
    using namespace string_table_detail;
    const uint16_t *const s = short_slots(table);
    const uint32_t *const keys = records(table);
    const uint32_t key = key_of(prefix, byte);
    uint32_t slot = (key * STRING_HASH_MULTIPLIER) >> (32 - STRING_HASH_BITS);
    for (;;) {
        const uint32_t code = s[slot];
        if (code == 0)
            return STRING_TABLE_NONE - 1 - static_cast<int32_t>(slot);
        if (keys[code] == key)
            return static_cast<int32_t>(code);
        slot = (slot + 1) & (STRING_HASH_SLOTS - 1);
    }
}

// Adds new_code as prefix+byte where string_table_find_hashed said; returns the next free code.
inline int32_t string_table_add_hashed(int32_t find_result, int32_t prefix, uint8_t byte, int32_t new_code,
                                       uint8_t *table) noexcept
{
    using namespace string_table_detail;
    short_slots(table)[STRING_TABLE_NONE - 1 - find_result] = static_cast<uint16_t>(new_code);
    records(table)[static_cast<uint32_t>(new_code)] = key_of(prefix, byte);
    return new_code + 1;
}

// The dictionary in its direct form, for pixels below 16 (4-bit images): per code a row of 16
// child codes, one for each pixel value, 0 where the string has no such extension. A search is one
// load at an address made from prefix and pixel; the only branch is found against new, where the
// other forms also decide between the first extension and the hash, which on dithered images goes
// wrong for one pixel in four. The block is larger than the other forms', so the coder obtains it
// only when every pixel is below 16.
constexpr int STRING_DIRECT_BYTE_VALUES = 16;
constexpr int STRING_DIRECT_TABLE_BYTES = STRING_TABLE_CODES * STRING_DIRECT_BYTE_VALUES * 2;
static_assert(STRING_DIRECT_TABLE_BYTES == 131072);

namespace string_table_detail
{
inline uint16_t *direct_row(uint8_t *table, uint32_t code) noexcept
{
    return reinterpret_cast<uint16_t *>(table) + std::size_t{code} * STRING_DIRECT_BYTE_VALUES;
}
} // namespace string_table_detail

// Empties the direct form for a new generation: the rows of the 16 roots a pixel can be. Rows of
// later codes are cleared as the codes are added.
inline void string_table_reset_direct(uint8_t *table) noexcept
{
    std::memset(table, 0, STRING_DIRECT_BYTE_VALUES * STRING_DIRECT_BYTE_VALUES * 2);
}

// Looks for prefix+pixel (pixel below 16) in the direct form: its code when present, else
// STRING_TABLE_NONE.
inline int32_t string_table_find_direct(uint32_t prefix, uint8_t pixel, const uint8_t *table) noexcept
{
    uint16_t code;
    std::memcpy(&code, table + (std::size_t{prefix} * STRING_DIRECT_BYTE_VALUES + pixel) * 2, 2);
    return code != 0 ? int32_t{code} : STRING_TABLE_NONE;
}

// Adds new_code as prefix+pixel to the direct form, after string_table_find_direct missed; returns
// the next free code.
inline int32_t string_table_add_direct(uint32_t prefix, uint8_t pixel, int32_t new_code, uint8_t *table) noexcept
{
    using namespace string_table_detail;
    direct_row(table, prefix)[pixel] = static_cast<uint16_t>(new_code);
    std::memset(direct_row(table, static_cast<uint32_t>(new_code)), 0, STRING_DIRECT_BYTE_VALUES * 2);
    return new_code + 1;
}

// Empties the dictionary for a new generation in the given form.
inline void string_table_reset_form(uint8_t *table, dictionary_form form) noexcept
{
    if (form == dictionary_form::direct)
        string_table_reset_direct(table);
    else if (form == dictionary_form::hashed)
        string_table_reset_hashed(table);
    else
        string_table_reset(table);
}

// Looks for the string prefix+byte. Returns its code when present; STRING_TABLE_NONE when the
// prefix has no extension yet; otherwise a value below it that tells string_table_add where the new
// extension goes.
inline int32_t string_table_find(int32_t prefix, uint8_t byte, const uint8_t *table) noexcept
{
    const uint32_t place = string_table_place(static_cast<uint32_t>(prefix));
    uint32_t found = place;
    uint32_t record;
    if (string_table_find_first_placed(found, byte, table, record))
        return static_cast<int32_t>(string_table_code_at(found));
    return string_table_find_later_placed(place, byte, record, table);
}

// Adds new_code as the string prefix+byte, where the failed search (find_result) said, and
// returns the next free code.
inline int32_t string_table_add(int32_t find_result, int32_t prefix, uint8_t byte, int32_t new_code,
                                uint8_t *table) noexcept
{
    return string_table_add_placed(find_result, prefix, byte, new_code, table);
}

} // namespace orveln1
