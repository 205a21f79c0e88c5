// SPDX-License-Identifier: MIT
// The LZW decoders' shared core: the code table that the GIF and TIFF decoders both fill, the
// code-value checks, and the expansion of a code into bytes, several bytes per table step.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/assert.hpp"
#include "boundary/compiler.hpp"
#include "lzw/lzw_bytes.hpp"
#include "lzw/lzw_paths.hpp"
#include "lzw/lzw_word.hpp"

namespace orveln1
{

// Codes are at most 12 bits wide, so entries 0 to 4095 can be named. Entry 4096 is the spare that a
// full table keeps redefining: no code reads it, so the decode loops need no full-table branch.
constexpr uint32_t LZW_CODE_LIMIT = 4096;
constexpr uint32_t LZW_TABLE_CODES = LZW_CODE_LIMIT + 1;
// The single-byte strings a reset defines.
constexpr uint32_t LZW_ROOTS = 256;

// Each entry is a 64-bit word and a 32-bit record (its length, a link and a run flag). Strings are
// written with whole 8-byte stores, so a word holds bytes laid out as they go to memory, the
// lowest-addressed byte in the lowest bits:
// - a string of up to 8 bytes is held whole in the word, its first byte lowest, the bytes past its
//   end 0;
// - a longer string is cut, from its start, into chunks of 8, the last one 1 to 8 bytes long. Its
//   word holds that last chunk in its top bytes, and its record links to the code of the string
//   without the last chunk (a multiple of 8 bytes long). Writing it takes one store per chunk, from
//   the last to the first, each a load of the next link away from the one before. The run flag
//   says the string without its last byte is one byte repeated, so that a long run, where LZW
//   strings grow longest, is written with one fill.
// The clear and end codes have a length no string reaches, so they are told apart from strings
// only once a code is known not to be a short string.
constexpr uint32_t LZW_SHORT_STRING = 8;
static_assert(LZW_CHUNK == LZW_SHORT_STRING);
constexpr uint32_t LZW_LENGTH_MASK = 0xFFFF;
constexpr int LZW_LINK_SHIFT = 16;
// A link names the code of a shorter string, which a code of at most 12 bits named: never the spare
// entry 4096. So the mask alone keeps every link within the table, whatever a record holds.
constexpr uint32_t LZW_LINK_MASK = LZW_CODE_LIMIT - 1;
constexpr uint32_t LZW_RUN_FLAG = 0x80000000u;
static_assert(LZW_LINK_MASK < LZW_TABLE_CODES && (LZW_LINK_MASK & (LZW_LINK_MASK + 1)) == 0);
static_assert((LZW_LINK_MASK << LZW_LINK_SHIFT) < LZW_RUN_FLAG);
// A byte appended to a long string goes to the word's top byte.
constexpr uint32_t LZW_TOP_BYTE_SHIFT = 56;
constexpr uint16_t LZW_CONTROL_LENGTH = 0xFFFF;
// A string of fewer than 8 bytes goes out with one 8-byte store: the bytes past its end, up to
// this many, are overwritten with junk that the next string covers. Every other store stays inside
// its string. Whoever owns the output keeps this margin past the longest string it lets start.
constexpr uint32_t LZW_STORE_OVERRUN = LZW_SHORT_STRING - 1;

// The table's block: the words, then the records.
constexpr std::size_t LZW_RECORDS_OFFSET = LZW_TABLE_CODES * sizeof(uint64_t);
constexpr std::size_t LZW_DECODE_TABLE_BYTES = LZW_RECORDS_OFFSET + LZW_TABLE_CODES * sizeof(uint32_t);

// The string a code just produced, as the next entry starts from it: its word and record bits in
// the form an appended byte completes (for a long string: the word's last chunk moved down a byte,
// or nothing when the appended byte starts a new chunk; the link and run flag), its length and its
// first byte. W is the form the word is held in (see lzw_word.hpp).
template <typename W> struct lzw_string_of {
    W word;
    uint32_t length;
    uint32_t first;
    uint32_t link_bits = 0;
};
using lzw_string = lzw_string_of<uint64_t>;

// How a decoder takes the roots, judged from a stretch of codes (see lzw_judge_roots): by the
// general path, on a path of their own one at a time, or there four to a window. A root names its
// own byte, so its path needs no table read; but where roots and other codes mix, telling them
// apart is a branch that guesses wrong often, and four roots to a window pay only where nearly
// every window holds four.
enum class lzw_roots_path { general, one_by_one, in_fours };

// The verdict on `codes` codes that gave `decoded` bytes. Every code gives one byte for a root and
// two or more otherwise, so decoded - codes bounds the codes that were not roots. The path of
// their own pays below one such code in 8, and four to a window below one in 25: random bytes have
// about one in 33, noisy photographs one in 12 to 25.
constexpr lzw_roots_path lzw_judge_roots(uint64_t decoded, uint64_t codes) noexcept
{
    const uint64_t others = decoded - codes;
    if (others * 25 < codes)
        return lzw_roots_path::in_fours;
    return others * 8 < codes ? lzw_roots_path::one_by_one : lzw_roots_path::general;
}

// The verdict a call takes: judged, unless pinned (see lzw_paths).
constexpr lzw_roots_path lzw_roots_verdict(const lzw_paths &paths, uint64_t decoded, uint64_t codes) noexcept
{
    return paths.roots == LZW_BY_DATA ? lzw_judge_roots(decoded, codes) : static_cast<lzw_roots_path>(paths.roots);
}

namespace lzw_detail
{

// Bytes in the last chunk of a string of 8 bytes or more: 1 to 8.
constexpr uint32_t last_chunk(uint32_t length) noexcept
{
    return (length - 1) % LZW_CHUNK + 1;
}

// Where the byte that completes a string of `length` bytes goes in the word begun from it.
constexpr uint32_t append_shift(uint32_t length) noexcept
{
    return length < LZW_SHORT_STRING ? length * 8 : LZW_TOP_BYTE_SHIFT;
}

// A string of 8 bytes or more (code `code`, word `word`, record `record`) in the form an appended
// byte completes; `run` says the string is one byte repeated. Whether the appended byte starts a
// chunk (then this string is the link) is as random as the string's length where the string came
// from the table: both forms are made and one is picked by mask, for a branch there guesses wrong
// about as often as a chunk ends. `InChain` is for a string one byte longer than the one before it
// (a chain of codes that each name the previous string followed by its first byte): there the
// lengths step by one, a branch learns the pattern, and a select would only lengthen the chain of
// dependent steps.
template <bool InChain = false, typename W>
ORVELN1_FORCEINLINE inline lzw_string_of<W> extend_long(uint32_t code, W word, uint32_t record, uint32_t length,
                                                        uint32_t first, bool run) noexcept
{
    const uint32_t flag = run ? LZW_RUN_FLAG : 0;
    constexpr uint32_t link_bits = LZW_LINK_MASK << LZW_LINK_SHIFT;
    ORVELN1_ASSERT(code <= LZW_LINK_MASK && length >= LZW_SHORT_STRING);
    if constexpr (InChain) {
        if (last_chunk(length) == LZW_CHUNK)
            return {lzw_word<W>(0), length, first, code << LZW_LINK_SHIFT | flag};
        return {word >> 8, length, first, (record & link_bits) | flag};
    } else {
        const uint32_t within = (length % LZW_CHUNK == 0) - 1u; // all ones unless a chunk starts
        const uint32_t link = (code << LZW_LINK_SHIFT & ~within) | (record & link_bits & within);
        return {(word >> 8) & lzw_mask_if<W>((within & 1) != 0), length, first, link | flag};
    }
}

constexpr uint32_t link_of(uint32_t record) noexcept
{
    return record >> LZW_LINK_SHIFT & LZW_LINK_MASK;
}

} // namespace lzw_detail

// The decode table over a block of LZW_DECODE_TABLE_BYTES (8-byte aligned). Codes past the roots
// are defined anew after each reset, so a reset touches only the roots and the two control codes.
// What the decode loops call per code is forced inline: the loops are built around it, and at the
// inlining limits of an -O2 build some of it stayed calls, which cost the decoders up to a third of
// their speed.
//
// W is the form in which the words are held in registers (see lzw_word.hpp); the block is the same
// for both.
template <typename W> class lzw_decode_table_of
{
  public:
    using string = lzw_string_of<W>;

    explicit lzw_decode_table_of(uint8_t *block) noexcept : words_(reinterpret_cast<uint64_t *>(block)) {}
    [[nodiscard]] uint8_t *block() const noexcept { return reinterpret_cast<uint8_t *>(words_); }

    // Every code below 256 names its own byte again; clear_code and the end code after it are
    // control codes (GIF at a root size below 8 puts them among the bytes, TIFF at 256 and 257).
    void reset(uint32_t clear_code) noexcept
    {
        for (uint32_t n = 0; n < LZW_ROOTS; ++n) {
            words_[n] = n;
            records()[n] = 1;
        }
        records()[clear_code] = LZW_CONTROL_LENGTH;
        records()[clear_code + 1] = LZW_CONTROL_LENGTH;
    }

    [[nodiscard]] uint32_t length(uint32_t code) const noexcept { return records()[code] & LZW_LENGTH_MASK; }
    // The word of a string shorter than 8 bytes is the string itself, its first byte lowest.
    [[nodiscard]] ORVELN1_FORCEINLINE W word(uint32_t code) const noexcept { return lzw_load<W>(&words_[code]); }
    [[nodiscard]] static bool is_control(uint32_t length) noexcept { return length == LZW_CONTROL_LENGTH; }

    // Entry `code` gets the word and record given (those of a string followed by one byte: see
    // define).
    ORVELN1_FORCEINLINE void set(uint32_t code, W word, uint32_t record) noexcept
    {
        ORVELN1_ASSERT(code < LZW_TABLE_CODES);
        lzw_store_word(&words_[code], word);
        records()[code] = record;
    }

    // Entry `code` becomes the string `prev` followed by `byte`.
    ORVELN1_FORCEINLINE void define(uint32_t code, const string &prev, uint32_t byte) noexcept
    {
        ORVELN1_ASSERT(code < LZW_TABLE_CODES && byte < LZW_ROOTS && prev.length < LZW_CONTROL_LENGTH - 1);
        lzw_store_word(&words_[code], prev.word | lzw_word<W>(byte) << lzw_detail::append_shift(prev.length));
        records()[code] = prev.link_bits | (prev.length + 1);
    }

    // Writes the string of `code` (defined, not a control code) from out on: exactly its bytes,
    // plus up to LZW_STORE_OVERRUN junk bytes past a string shorter than 8, all before room_end.
    // Returns the string.
    [[nodiscard]] ORVELN1_FORCEINLINE string expand(uint32_t code, uint8_t *out, const uint8_t *room_end) const noexcept
    {
        ORVELN1_ASSERT(code < LZW_CODE_LIMIT);
        const uint32_t record = records()[code];
        const uint32_t n = record & LZW_LENGTH_MASK;
        const W w = word(code);
        ORVELN1_ASSERT(!is_control(n) && std::max(n, LZW_SHORT_STRING) <= static_cast<std::size_t>(room_end - out));
        if (n < LZW_SHORT_STRING) [[likely]] {
            lzw_detail::store8(out, w);
            return {w, n, static_cast<uint8_t>(lzw_low32(w))};
        }
        return expand_long(code, w, record, n, out, room_end);
    }

    // The code that the current step defines (KwKwK): the previous string followed by its own
    // first byte. `before` bytes of output lie in place before out; when the whole previous string
    // is among them it is copied rather than expanded again. Writes as expand does.
    [[nodiscard]] ORVELN1_FORCEINLINE string expand_new(uint32_t code, const string &prev, uint8_t *out,
                                                        std::size_t before, const uint8_t *room_end) noexcept
    {
        define(code, prev, prev.first);
        if (prev.length >= 2 * LZW_SHORT_STRING && before >= prev.length) {
            // Such codes come in long runs, each one byte longer: copying the string just written
            // is cheaper than walking its chunks. A run stays a run.
            lzw_detail::copy_string(out, out - prev.length, prev.length, room_end);
            out[prev.length] = static_cast<uint8_t>(prev.first);
            const uint32_t n = prev.length + 1;
            const bool run = (prev.link_bits & LZW_RUN_FLAG) != 0;
            return lzw_detail::extend_long<true>(code, word(code), records()[code], n, prev.first, run);
        }
        return expand(code, out, room_end);
    }

    // Entry `code` becomes the run `run` (8 bytes or more, one byte repeated, as run_string gives
    // it) followed by its byte once more. Returns that longer run, which nothing has written.
    // `InChain` when `run` itself came from this, one of a chain of such codes (see extend_long).
    template <bool InChain = false>
    [[nodiscard]] ORVELN1_FORCEINLINE string extend_run(uint32_t code, const string &run) noexcept
    {
        define(code, run, run.first);
        return lzw_detail::extend_long<InChain>(code, word(code), records()[code], run.length + 1, run.first, true);
    }

    // The last 8 bytes of the string of `code` (defined, 8 bytes or more) as a word, read from the
    // table rather than from where the string was just written, which the stores may not have
    // reached yet. The word holds the last chunk in its top bytes and zeros below it; the chunk
    // before is a whole 8 bytes.
    [[nodiscard]] ORVELN1_FORCEINLINE W last_eight(uint32_t code) const noexcept
    {
        const uint32_t record = records()[code];
        const uint32_t chunk = lzw_detail::last_chunk(record & LZW_LENGTH_MASK);
        const W w = word(code);
        if (chunk == LZW_CHUNK)
            return w;
        return w | word(lzw_detail::link_of(record)) >> (8 * chunk);
    }

    // When the string of `code` (defined, longer than 8 bytes) is one byte repeated: that string,
    // as expand would return it, without writing it; the caller fills it where it wants. Otherwise
    // nothing. Long runs are where LZW strings grow longest, and a decoder that delivers rows from a
    // fixed slot can then skip writing bytes that the slot already holds.
    [[nodiscard]] ORVELN1_FORCEINLINE bool run_string(uint32_t code, string &s) const noexcept
    {
        ORVELN1_ASSERT(code < LZW_CODE_LIMIT);
        const uint32_t record = records()[code];
        const uint32_t n = record & LZW_LENGTH_MASK;
        ORVELN1_ASSERT(n >= LZW_SHORT_STRING && !is_control(n));
        const W w = word(code);
        if (!is_run(w, record, n))
            return false;
        const auto first = static_cast<uint8_t>(lzw_low32(w >> LZW_TOP_BYTE_SHIFT));
        s = lzw_detail::extend_long(code, w, record, n, first, true);
        return true;
    }

    // Writes the strings of codes a and b (defined, not control codes) one after the other from out
    // on, exactly, when both are longer than 8 bytes, neither record is flagged a run and both end
    // by room_end: their chunks are walked side by side, two chains of dependent loads that the
    // processor overlaps, where one walk after the other would each wait on its own loads. Strings
    // of one colour of 2-byte to 4-byte pixels grow to thousands of bytes that are not runs, and
    // come one after another. Returns false, with nothing written, for any other pair.
    [[nodiscard]] ORVELN1_FORCEINLINE bool expand_pair(uint32_t a, uint32_t b, uint8_t *out, const uint8_t *room_end,
                                                       string &sa, string &sb) const noexcept
    {
        using namespace lzw_detail;
        ORVELN1_ASSERT(a < LZW_CODE_LIMIT && b < LZW_CODE_LIMIT);
        const uint32_t ra = records()[a];
        const uint32_t rb = records()[b];
        const uint32_t na = ra & LZW_LENGTH_MASK;
        const uint32_t nb = rb & LZW_LENGTH_MASK;
        // A control code's length is above every string's, and fails the test as a run does.
        if (((ra | rb) & LZW_RUN_FLAG) != 0 || na <= LZW_SHORT_STRING || nb <= LZW_SHORT_STRING || is_control(na) ||
            is_control(nb) || na + nb > static_cast<std::size_t>(room_end - out))
            return false;
        const W wa = word(a);
        const W wb = word(b);
        uint8_t *const out_b = out + na;
        uint8_t *end_a = out_b;
        uint8_t *end_b = out_b + nb;
        store8(end_a - 8, wa);
        store8(end_b - 8, wb);
        end_a -= last_chunk(na);
        end_b -= last_chunk(nb);
        uint32_t ka = link_of(ra);
        uint32_t kb = link_of(rb);
        while (end_a - out > static_cast<std::ptrdiff_t>(LZW_CHUNK) &&
               end_b - out_b > static_cast<std::ptrdiff_t>(LZW_CHUNK)) {
            store8(end_a - 8, word(ka));
            store8(end_b - 8, word(kb));
            ka = link_of(records()[ka]);
            kb = link_of(records()[kb]);
            end_a -= LZW_CHUNK;
            end_b -= LZW_CHUNK;
        }
        sa = extend_long(a, wa, ra, na, walk_chunks(out, end_a, ka), false);
        sb = extend_long(b, wb, rb, nb, walk_chunks(out_b, end_b, kb), false);
        return true;
    }

    // The string of `code` (defined, 16 bytes or more, not flagged a run), whose bytes lie at `from`
    // in the output before out: copied to out, and returned as expand would return it.
    [[nodiscard]] ORVELN1_FORCEINLINE string copy_defined(uint32_t code, uint8_t *out, const uint8_t *from,
                                                          const uint8_t *room_end) const noexcept
    {
        const uint32_t record = records()[code];
        const uint32_t n = record & LZW_LENGTH_MASK;
        ORVELN1_ASSERT(n >= 2 * LZW_SHORT_STRING && !is_control(n) && (record & LZW_RUN_FLAG) == 0);
        lzw_detail::copy_string(out, from, n, room_end);
        return lzw_detail::extend_long(code, word(code), record, n, *from, false);
    }

  private:
    // A string of 8 bytes or more: one store, a fill or a walk of its chunks.
    [[nodiscard]] ORVELN1_FORCEINLINE string expand_long(uint32_t code, W w, uint32_t record, uint32_t n, uint8_t *out,
                                                         const uint8_t *room_end) const noexcept
    {
        using namespace lzw_detail;
        if (n == LZW_SHORT_STRING) {
            store8(out, w);
            const auto first = static_cast<uint8_t>(lzw_low32(w));
            return extend_long(code, w, record, n, first, lzw_equal(w, lzw_repeat_byte<W>(first)));
        }
        if (is_run(w, record, n)) {
            const auto first = static_cast<uint8_t>(lzw_low32(w >> LZW_TOP_BYTE_SHIFT));
            fill_run(out, first, n, room_end);
            return extend_long(code, w, record, n, first, true);
        }
        return extend_long(code, w, record, n, write_chunks(out, w, record, n), false);
    }

    // Whether the string of word `w`, record `record` and `n` bytes (more than 8) is one byte
    // repeated: all but its last byte are (the run flag), and the last two bytes are equal.
    [[nodiscard]] ORVELN1_FORCEINLINE bool is_run(W w, uint32_t record, uint32_t n) const noexcept
    {
        if ((record & LZW_RUN_FLAG) == 0)
            return false;
        // The byte before the last lies in the last chunk, or, when that chunk is one byte, at the
        // top of the linked one: both are read and one picked by mask, as the lengths are random.
        const uint32_t in_chunk = lzw_low32(w >> (LZW_TOP_BYTE_SHIFT - 8));
        const uint32_t in_link = lzw_low32(word(lzw_detail::link_of(record)) >> LZW_TOP_BYTE_SHIFT);
        const uint32_t pick_link = 0u - uint32_t{n % LZW_CHUNK == 1};
        const uint32_t before_last = (in_chunk & ~pick_link) | (in_link & pick_link);
        return static_cast<uint8_t>(before_last) == static_cast<uint8_t>(lzw_low32(w >> LZW_TOP_BYTE_SHIFT));
    }

    // Writes a string of more than 8 bytes exactly: the last chunk's store puts junk below the
    // chunk, inside the string, where the store of the chunk before it lands next. Returns the
    // string's first byte.
    ORVELN1_FORCEINLINE uint8_t write_chunks(uint8_t *out, W w, uint32_t record, uint32_t n) const noexcept
    {
        using namespace lzw_detail;
        uint8_t *end = out + n;
        store8(end - 8, w);
        end -= last_chunk(n);
        return walk_chunks(out, end, link_of(record));
    }

    // The rest of a string from out up to end (a whole number of chunks), the chunk before end being
    // the string of code k's last; returns the string's first byte.
    ORVELN1_FORCEINLINE uint8_t walk_chunks(uint8_t *out, uint8_t *end, uint32_t k) const noexcept
    {
        using namespace lzw_detail;
        // Each chunk's store lies within the string: the walk ends at its first chunk, and each
        // link is a string shorter by 8 bytes.
        while (end - out > static_cast<std::ptrdiff_t>(LZW_CHUNK)) {
            ORVELN1_ASSERT(length(k) == static_cast<std::size_t>(end - out));
            store8(end - 8, word(k));
            k = link_of(records()[k]);
            end -= LZW_CHUNK;
        }
        const W w = word(k);
        store8(out, w);
        return static_cast<uint8_t>(lzw_low32(w));
    }

    // The records lie at a fixed distance from the words, so one register serves both.
    [[nodiscard]] uint32_t *records() const noexcept
    {
        return reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(words_) + LZW_RECORDS_OFFSET);
    }

    uint64_t *words_;
};
using lzw_decode_table = lzw_decode_table_of<uint64_t>;

} // namespace orveln1
