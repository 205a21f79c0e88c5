// SPDX-License-Identifier: MIT
// A plain LZW decoder for GIF image data and TIFF strips, one bit and one string at a time, that
// says which rows a host is handed and what the call returns: the yardstick for the fast decoders.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "orveln1.h"
#include "support/image_kit.hpp"

namespace orveln1::test
{

// One put_row call as the host sees it, and the whole decode: every call in order and the result.
struct reference_row {
    int32_t index;
    std::vector<uint8_t> bytes;
    friend bool operator==(const reference_row &, const reference_row &) = default;
};
struct reference_decode {
    int32_t result = 0;
    std::vector<reference_row> rows;
};

// The host's answer to put_row: refuse_at is the call (from 0) that returns `refusal`; -1 never.
struct reference_refusal {
    int64_t refuse_at = -1;
    int32_t refusal = -7;
};

// Codes read one bit at a time from bytes; next() is false when fewer than `width` bits are left.
// GIF fills each byte from bit 0 up (least significant bit first), TIFF from bit 7 down.
class reference_bit_reader
{
  public:
    reference_bit_reader(const std::vector<uint8_t> &bytes, bool lsb_first) : bytes_(bytes), lsb_first_(lsb_first) {}

    bool next(int width, uint32_t &code)
    {
        if (bit_ + static_cast<std::size_t>(width) > bytes_.size() * 8)
            return false;
        code = 0;
        for (int i = 0; i < width; ++i, ++bit_) {
            const uint8_t byte = bytes_[bit_ / 8];
            if (lsb_first_)
                code |= static_cast<uint32_t>((byte >> (bit_ % 8)) & 1) << i;
            else
                code = code << 1 | ((byte >> (7 - bit_ % 8)) & 1);
        }
        return true;
    }

  private:
    const std::vector<uint8_t> &bytes_;
    bool lsb_first_;
    std::size_t bit_ = 0;
};

// The string table of one generation: every string spelt out. Codes below `roots` name one byte;
// the two after them are the clear and end codes; entries are added from there up to 4095.
class reference_table
{
  public:
    explicit reference_table(uint32_t roots)
    {
        for (uint32_t c = 0; c < roots + 2; ++c)
            strings_.push_back({static_cast<uint8_t>(c)});
    }
    [[nodiscard]] uint32_t next_code() const { return static_cast<uint32_t>(strings_.size()); }
    [[nodiscard]] const std::vector<uint8_t> &operator[](uint32_t code) const { return strings_[code]; }
    // The previous string plus the first byte of the current one; nothing once 4096 entries exist.
    void add(const std::vector<uint8_t> &prev, uint8_t first)
    {
        if (strings_.size() < 4096) {
            strings_.push_back(prev);
            strings_.back().push_back(first);
        }
    }

  private:
    std::vector<std::vector<uint8_t>> strings_;
};

// Hands the rows to the host in order until one is refused; the result is then the refusal.
inline reference_decode reference_deliver(std::vector<reference_row> rows, int32_t result, reference_refusal refusal)
{
    reference_decode out;
    out.result = result;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        out.rows.push_back(std::move(rows[k]));
        if (static_cast<int64_t>(k) == refusal.refuse_at) {
            out.result = refusal.refusal;
            break;
        }
    }
    return out;
}

// The bytes a code stream expands to, and whether it ended with the end code. The stream opens
// with a clear code; the code after every clear code is read at the first width and names the byte
// of its value (its value below 256), the end code or another clear code; anything else ends the
// data. Then each code names a table string or the one being defined, and the width grows as soon
// as the next free code plus `early` no longer fits (GIF: 0, TIFF widens one code early: 1), up to
// 12 bits. The data also ends at a code beyond the next free one or with too few bits left.
// opened is false when the first code is no clear code.
struct reference_expansion {
    bool opened = false;
    bool ended = false;
    std::vector<uint8_t> bytes;
};

inline reference_expansion reference_expand(const std::vector<uint8_t> &data, bool lsb_first, uint32_t root_size,
                                            uint32_t early, std::size_t wanted)
{
    const uint32_t clear = 1u << root_size;
    const uint32_t end = clear + 1;
    const int first_width = static_cast<int>(root_size) + 1;
    reference_expansion out;
    std::vector<uint8_t> &bytes = out.bytes;
    reference_bit_reader reader(data, lsb_first);
    uint32_t c = 0;
    if (!reader.next(first_width, c) || c != clear)
        return out;
    out.opened = true;
    bool cleared = true;
    while (cleared && (wanted == 0 || bytes.size() < wanted)) {
        cleared = false;
        if (!reader.next(first_width, c))
            break;
        if (c == clear) {
            cleared = true;
            continue;
        }
        out.ended = c == end;
        if (c == end || c >= 256)
            break;
        reference_table table(clear);
        std::vector<uint8_t> prev = {static_cast<uint8_t>(c)};
        bytes.push_back(static_cast<uint8_t>(c));
        while (wanted == 0 || bytes.size() < wanted) {
            const uint32_t next = table.next_code();
            int width = first_width;
            while (width < 12 && next + early >= (1u << width))
                ++width;
            if (!reader.next(width, c) || c > next)
                break;
            out.ended = c == end;
            if (c == end)
                break;
            if (c == clear) {
                cleared = true;
                break;
            }
            std::vector<uint8_t> s = c < next ? table[c] : prev;
            if (c == next)
                s.push_back(prev[0]);
            table.add(prev, s[0]);
            bytes.insert(bytes.end(), s.begin(), s.end());
            prev = s;
        }
    }
    return out;
}

// GIF image data: the data sub-blocks (length byte, then that many bytes) up to the zero-length
// one or the end of the input, the image's size and depth as its header gives them, and the word
// of the descriptor's packed byte (low) and the minimum code size (high).
struct gif_reference_image {
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t code_size_word;
};

inline reference_decode gif_reference_decode(const std::vector<uint8_t> &sub_blocks, gif_reference_image image,
                                             reference_refusal refusal = {})
{
    if (image.depth != 1 && image.depth != 4 && image.depth != 8)
        return {ORVELN1_ERR_UNSUPPORTED_DEPTH, {}};
    if (image.width < 1 || image.height < 1)
        return {ORVELN1_ERR_BAD_DATA, {}};

    // A minimum code size of 0 or above 8 is replaced by the colour table's size field plus one,
    // and the packed byte, interlace flag included, is then not used.
    const uint32_t word = static_cast<uint32_t>(image.code_size_word) & 0xFFFF;
    uint32_t root_size = word >> 8;
    bool interlaced = (word & 0x40) != 0;
    if (root_size == 0 || root_size > 8) {
        root_size = (word & 7) + 1;
        interlaced = false;
    }
    std::vector<uint8_t> data;
    for (std::size_t pos = 0; pos < sub_blocks.size();) {
        const std::size_t length = sub_blocks[pos++];
        if (length == 0)
            break;
        for (std::size_t i = 0; i < length && pos < sub_blocks.size(); ++i)
            data.push_back(sub_blocks[pos++]);
    }

    // Pixels until the data ends (end code, a code the table cannot name, no whole code left) or
    // the image is full.
    const auto wanted = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    const reference_expansion expanded = reference_expand(data, true, root_size, 0, wanted);
    if (!expanded.opened)
        return {ORVELN1_ERR_BAD_DATA, {}};
    const std::vector<uint8_t> &pixels = expanded.bytes;

    // Row k of the output is the k-th in the order the image stores them: top to bottom, or the
    // four interlace passes.
    const std::vector<int32_t> order = interlace_order(image.height, interlaced);
    const std::size_t width = static_cast<std::size_t>(image.width);
    std::vector<reference_row> rows;
    for (std::size_t k = 0; k < order.size() && (k + 1) * width <= pixels.size(); ++k) {
        rows.push_back({order[k], scan_line(pixels.data() + k * width, width, image.depth)});
    }
    return reference_deliver(std::move(rows), 0, refusal);
}

// A TIFF strip cut into rows of row_bytes with indices first_row on. A row_count of 0 sets no
// limit. The host's row buffer starts out holding `buffer_fill` in every byte; the rows still owed
// when the strip ends early are that buffer as it then stands: the decoded bytes of the unfinished
// row over the row delivered last.
struct tif_reference_strip {
    int32_t first_row;
    uint32_t row_bytes;
    uint32_t row_count;
    uint8_t buffer_fill;
};

inline reference_decode tif_reference_decode(const std::vector<uint8_t> &strip, tif_reference_strip format,
                                             reference_refusal refusal = {})
{
    if (format.row_bytes == 0)
        return {ORVELN1_ERR_BAD_DATA, {}};
    const std::size_t wanted = static_cast<std::size_t>(format.row_count) * format.row_bytes;

    // The strip ends with the end code (1), or as bad data: a code beyond the next free one, a
    // code after a clear code that is not a byte, or too few bits left for a code.
    const reference_expansion expanded = reference_expand(strip, false, 8, 1, wanted);
    if (!expanded.opened)
        return {ORVELN1_ERR_BAD_DATA, {}};
    const std::vector<uint8_t> &bytes = expanded.bytes;
    const int32_t ending = expanded.ended ? 1 : ORVELN1_ERR_BAD_DATA;

    const std::size_t row_bytes = format.row_bytes;
    const auto index = [&](std::size_t k) {
        return static_cast<int32_t>(static_cast<uint32_t>(format.first_row) + static_cast<uint32_t>(k));
    };
    std::vector<reference_row> rows;
    std::vector<uint8_t> last(row_bytes, format.buffer_fill);
    for (std::size_t k = 0; (k + 1) * row_bytes <= bytes.size() && (wanted == 0 || k < format.row_count); ++k) {
        last.assign(bytes.begin() + static_cast<std::ptrdiff_t>(k * row_bytes),
                    bytes.begin() + static_cast<std::ptrdiff_t>((k + 1) * row_bytes));
        rows.push_back({index(k), last});
    }
    if (wanted != 0 && rows.size() == format.row_count)
        return reference_deliver(std::move(rows), 1, refusal);
    std::vector<uint8_t> stands = last;
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(rows.size() * row_bytes), bytes.end(), stands.begin());
    for (std::size_t k = rows.size(); k < format.row_count; ++k)
        rows.push_back({index(k), stands});
    return reference_deliver(std::move(rows), ending, refusal);
}

} // namespace orveln1::test
