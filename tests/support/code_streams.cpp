// SPDX-License-Identifier: MIT
// Hand-built and hand-read LZW code streams: the bit packer, decoder widths for both formats, the
// reference GIF and TIFF encoders and the GIF code walker.
#include "support/code_streams.hpp"

#include <algorithm>
#include <bit>
#include <initializer_list>
#include <map>

#include "tiff/tif_compressor.hpp"

namespace orveln1::test
{

namespace
{
// Codes appended each at its own width, the last byte padded with zero bits.
struct bit_packer {
    bit_order order;
    std::vector<uint8_t> bytes = {};
    std::size_t held = 0; // bits

    void put(uint32_t code, int width)
    {
        for (int i = 0; i < width; ++i, ++held) {
            if (held % 8 == 0)
                bytes.push_back(0);
            const bool lsb = order == bit_order::lsb_first;
            if ((code >> (lsb ? i : width - 1 - i)) & 1)
                bytes.back() |= static_cast<uint8_t>(lsb ? 1 << (held % 8) : 0x80 >> (held % 8));
        }
    }
};

// A decoder's view of the code width, advanced code by code: one entry defined per data code after
// the first since a clear code; wider once the next entry (TIFF: one code early) reaches 2^width.
struct width_tracker {
    int root_size;
    uint32_t early = 0;
    int width = 0;
    uint32_t next = 0;
    bool first = true;

    [[nodiscard]] uint32_t clear() const { return 1u << root_size; }
    void reset()
    {
        width = root_size + 1;
        next = clear() + 2;
        first = true;
    }
    void took(uint32_t code)
    {
        if (code == clear())
            reset();
        else if (code != clear() + 1)
            took_data();
    }
    void took_data()
    {
        if (!first && next < 4096)
            ++next;
        first = false;
        if (next + early >= (1u << width) && width < 12)
            ++width;
    }
};

std::vector<uint8_t> pack_codes(const std::vector<uint32_t> &codes, int root_size, bit_order order, uint32_t early)
{
    bit_packer packer{order};
    width_tracker w{root_size, early};
    w.reset();
    w.first = early == 0; // a TIFF strip that opens without a clear code defines an entry at once
    for (const uint32_t c : codes) {
        packer.put(c, w.width);
        w.took(c);
    }
    return packer.bytes;
}

// Greedy LZW over the pixels, each code at the width the format's decoder reads it with.
std::vector<uint8_t> reference_encode(const std::vector<uint8_t> &pixels, int root_size, bit_order order,
                                      uint32_t early, gif_encode_options options)
{
    const uint32_t clear = 1u << root_size;
    bit_packer packer{order};
    width_tracker w{root_size, early};
    w.reset();
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> dict;
    uint32_t next = clear + 2;
    const auto emit = [&](uint32_t code) {
        packer.put(code, w.width);
        if (code != clear)
            return w.took_data();
        w.reset();
        dict.clear();
        next = clear + 2;
    };
    emit(clear);
    if (!pixels.empty()) {
        uint32_t prefix = pixels[0];
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const auto found = dict.find({prefix, pixels[i]});
            if (found != dict.end()) {
                prefix = found->second;
                continue;
            }
            emit(prefix);
            if (next < 4096) {
                dict[{prefix, pixels[i]}] = next++;
                if (options.clear_after != 0 && next > options.clear_after)
                    emit(clear);
            } else if (options.clear_when_full) {
                emit(clear);
            }
            prefix = pixels[i];
        }
        emit(prefix);
    }
    if (options.end_code)
        packer.put(clear + 1, w.width);
    return packer.bytes;
}

void append(std::vector<uint8_t> &out, std::initializer_list<int> values)
{
    for (const int v : values)
        out.push_back(static_cast<uint8_t>(v));
}

// The size field of a colour table of `entries`: 2 << field entries.
int table_size_field(int entries)
{
    return std::max(1, static_cast<int>(std::bit_width(static_cast<unsigned>(entries - 1)))) - 1;
}
} // namespace

std::vector<uint8_t> gif_codes(const std::vector<uint32_t> &codes, int root_size)
{
    return pack_codes(codes, root_size, bit_order::lsb_first, 0);
}

std::vector<uint8_t> tif_codes(const std::vector<uint32_t> &codes)
{
    return pack_codes(codes, 8, bit_order::msb_first, 1);
}

std::vector<uint32_t> longest_strings(int root_size, uint32_t first)
{
    const uint32_t clear = 1u << root_size;
    std::vector<uint32_t> codes = {clear, first};
    for (uint32_t c = clear + 2; c < 4096; ++c)
        codes.push_back(c);
    codes.push_back(clear + 1);
    return codes;
}

std::vector<uint8_t> gif_reference_encode(const std::vector<uint8_t> &pixels, int root_size, gif_encode_options options)
{
    return reference_encode(pixels, root_size, bit_order::lsb_first, 0, options);
}

std::vector<uint8_t> tif_reference_encode(const std::vector<uint8_t> &bytes)
{
    gif_encode_options restart;
    restart.clear_after = TIF_ENCODER_LAST_LIMIT - 1;
    return reference_encode(bytes, 8, bit_order::msb_first, 1, restart);
}

std::vector<uint8_t> sub_blocks(const std::vector<uint8_t> &bytes, int piece, bool terminate)
{
    std::vector<uint8_t> out;
    for (std::size_t at = 0; at < bytes.size(); at += static_cast<std::size_t>(piece)) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(piece), bytes.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                   bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    if (terminate)
        out.push_back(0);
    return out;
}

gif_code_walk walk_gif_codes(const uint8_t *data, std::size_t size, int root_size)
{
    gif_code_walk walk;
    std::vector<uint8_t> bytes;
    std::size_t at = 0;
    while (at < size && data[at] != 0) {
        const std::size_t n = data[at++];
        walk.sub_block_sizes.push_back(static_cast<int32_t>(n));
        const std::size_t take = std::min(n, size - at);
        bytes.insert(bytes.end(), data + at, data + at + take);
        at += take;
    }
    walk.bits_total = static_cast<int64_t>(bytes.size()) * 8;
    width_tracker w{root_size};
    w.reset();
    bit_reader reader(bytes, bit_order::lsb_first);
    for (uint32_t code = 0; !walk.ended && reader.next(w.width, code); w.took(code)) {
        walk.codes.push_back(static_cast<uint16_t>(code));
        walk.widths.push_back(static_cast<uint8_t>(w.width));
        walk.ended = code == w.clear() + 1;
        walk.final_next = walk.ended ? static_cast<int>(w.next) : 0;
        walk.final_width = walk.ended ? w.width : 0;
    }
    walk.bits_used = static_cast<int64_t>(reader.bits_read());
    return walk;
}

gif_stream_builder::gif_stream_builder(int width, int height, int global_entries)
{
    append(out, {'G', 'I', 'F', '8', '9', 'a', width & 0xFF, width >> 8, height & 0xFF, height >> 8,
                 global_entries ? 0x80 | table_size_field(global_entries) : 0, 3, 0});
    global = colour_table(global_entries, 1);
    out.insert(out.end(), global.begin(), global.end());
}

gif_stream_builder &gif_stream_builder::graphic_control(int transparent, int delay, int disposal)
{
    append(out, {0x21, 0xF9, 4, disposal << 2 | (transparent >= 0 ? 1 : 0), delay & 0xFF, delay >> 8,
                 transparent >= 0 ? transparent : 0, 0});
    return *this;
}

gif_stream_builder &gif_stream_builder::extension(int label, const std::vector<uint8_t> &payload)
{
    append(out, {0x21, label});
    out.insert(out.end(), payload.begin(), payload.end());
    return *this;
}

gif_stream_builder &gif_stream_builder::image(int left, int top, int width, int height, bool interlaced,
                                              int local_entries, int min_code_size, const std::vector<uint8_t> &data)
{
    append(out, {0x2C, left & 0xFF, left >> 8, top & 0xFF, top >> 8, width & 0xFF, width >> 8, height & 0xFF,
                 height >> 8, (interlaced ? 0x40 : 0) | (local_entries ? 0x80 | table_size_field(local_entries) : 0)});
    const std::vector<uint8_t> local = colour_table(local_entries, 100);
    out.insert(out.end(), local.begin(), local.end());
    out.push_back(static_cast<uint8_t>(min_code_size));
    data_offsets.push_back(out.size());
    out.insert(out.end(), data.begin(), data.end());
    return *this;
}

gif_stream_builder &gif_stream_builder::trailer()
{
    out.push_back(0x3B);
    return *this;
}

std::vector<uint8_t> gif_stream_builder::colour_table(int entries, int seed)
{
    std::vector<uint8_t> t;
    for (int i = 0; i < 3 * entries; ++i)
        t.push_back(static_cast<uint8_t>(seed + i * 5));
    return t;
}

} // namespace orveln1::test
