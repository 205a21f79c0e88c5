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
#include "support/code_streams.hpp"
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

// Hands the rows to the host in order until one is refused; the result is then the refusal.
inline reference_decode reference_deliver(std::vector<reference_row> rows, int32_t result, reference_refusal refusal)
{
    if (refusal.refuse_at >= 0 && static_cast<std::size_t>(refusal.refuse_at) < rows.size()) {
        rows.resize(static_cast<std::size_t>(refusal.refuse_at) + 1);
        result = refusal.refusal;
    }
    return {result, std::move(rows)};
}

// The bytes a code stream expands to, and whether it ended with the end code. The stream opens
// with a clear code (else opened is false); the code after every clear code is read at the first
// width and names the byte of its value (its value below 256), the end code or another clear code;
// anything else ends the data. Then each code names a table string (every string spelt out) or the
// one being defined, and the width grows as soon as the next free code plus `early` no longer fits
// (GIF: 0, TIFF widens one code early: 1), up to 12 bits. The data also ends at a code beyond the
// next free one or with too few bits left.
struct reference_expansion {
    bool opened = false;
    bool ended = false;
    std::vector<uint8_t> bytes;
};

inline reference_expansion reference_expand(const std::vector<uint8_t> &data, bool lsb_first, uint32_t root_size,
                                            uint32_t early, std::size_t wanted)
{
    const uint32_t clear = 1u << root_size;
    reference_expansion out;
    bit_reader reader(data, lsb_first ? bit_order::lsb_first : bit_order::msb_first);
    uint32_t c = 0;
    out.opened = reader.next(static_cast<int>(root_size) + 1, c) && c == clear;
    std::vector<std::vector<uint8_t>> table; // empty right after a clear code
    std::vector<uint8_t> prev;
    while (out.opened && (wanted == 0 || out.bytes.size() < wanted)) {
        const auto next = static_cast<uint32_t>(table.size());
        int width = static_cast<int>(root_size) + 1;
        while (!table.empty() && width < 12 && next + early >= (1u << width))
            ++width;
        if (!reader.next(width, c) || (!table.empty() && c > next))
            break;
        out.ended = c == clear + 1;
        if (c == clear) {
            table.clear();
            continue;
        }
        if (out.ended || (table.empty() && c >= 256))
            break;
        if (table.empty()) {
            for (uint32_t root = 0; root < clear + 2; ++root)
                table.push_back({static_cast<uint8_t>(root)});
            prev = {static_cast<uint8_t>(c)};
            out.bytes.push_back(prev[0]);
            continue;
        }
        std::vector<uint8_t> s = c < next ? table[c] : prev;
        if (c == next)
            s.push_back(prev[0]);
        if (table.size() < 4096)
            table.emplace_back(prev).push_back(s[0]);
        out.bytes.insert(out.bytes.end(), s.begin(), s.end());
        prev = s;
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

    // Row k of the output is the k-th in the order the image stores them: top to bottom, or the
    // four interlace passes.
    const std::vector<int32_t> order = interlace_order(image.height, interlaced);
    const auto width = static_cast<std::size_t>(image.width);
    std::vector<reference_row> rows;
    for (std::size_t k = 0; k < order.size() && (k + 1) * width <= expanded.bytes.size(); ++k)
        rows.push_back({order[k], scan_line(expanded.bytes.data() + k * width, width, image.depth)});
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
    return reference_deliver(std::move(rows), expanded.ended ? 1 : ORVELN1_ERR_BAD_DATA, refusal);
}

} // namespace orveln1::test
