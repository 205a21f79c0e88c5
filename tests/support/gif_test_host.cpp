// SPDX-License-Identifier: MIT
// The GIF decoder's test host: byte sources, row recorders, headers and a reference encoder.
#include "support/gif_test_host.hpp"

#include <algorithm>
#include <map>

namespace orveln1::test
{
namespace
{
// Handles index these tables; tests run one after another, and a handle is reused only after its
// test has finished.
std::vector<gif_byte_source *> &sources()
{
    static std::vector<gif_byte_source *> table;
    return table;
}
std::vector<gif_row_recorder *> &recorders()
{
    static std::vector<gif_row_recorder *> table;
    return table;
}
} // namespace

int32_t source_handle(gif_byte_source &source)
{
    sources().push_back(&source);
    return static_cast<int32_t>(sources().size() - 1);
}

int32_t recorder_handle(gif_row_recorder &recorder)
{
    recorders().push_back(&recorder);
    return static_cast<int32_t>(recorders().size() - 1);
}

int32_t ORVELN1_CDECL source_read(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    gif_byte_source &s = *sources().at(static_cast<std::size_t>(io_handle));
    const auto call = static_cast<int64_t>(s.asked.size());
    s.asked.push_back(count);
    s.event_log.push_back('r');
    if (s.fail_from_call >= 0 && call >= s.fail_from_call)
        return s.fail_value;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), s.data.size() - s.pos);
    std::copy_n(s.data.begin() + static_cast<std::ptrdiff_t>(s.pos), n, buffer);
    s.pos += n;
    return static_cast<int32_t>(n);
}

int32_t ORVELN1_CDECL recorder_put_row(const uint8_t *row, int32_t row_context, int32_t row_index, int32_t row_bytes)
{
    gif_row_recorder &r = *recorders().at(static_cast<std::size_t>(row_context));
    const int64_t call = r.calls++;
    if (!r.keep_all) {
        r.rows.resize(1);
        r.rows[0].assign(row, row + row_bytes);
        return call == r.fail_at_call ? r.fail_value : 0;
    }
    r.indices.push_back(row_index);
    r.row_bytes.push_back(row_bytes);
    r.rows.emplace_back(row, row + row_bytes);
    if (r.event_log)
        r.event_log->push_back('p');
    return call == r.fail_at_call ? r.fail_value : 0;
}

void lsb_code_writer::put(uint32_t code, uint32_t width)
{
    bits_ |= code << bit_count_;
    bit_count_ += width;
    while (bit_count_ >= 8) {
        bytes_.push_back(static_cast<uint8_t>(bits_));
        bits_ >>= 8;
        bit_count_ -= 8;
    }
}

std::vector<uint8_t> lsb_code_writer::bytes() const
{
    std::vector<uint8_t> out = bytes_;
    if (bit_count_ > 0)
        out.push_back(static_cast<uint8_t>(bits_));
    return out;
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

namespace
{
// The decoder's view of the code width, advanced code by code.
struct width_tracker {
    uint32_t root;
    uint32_t clear;
    uint32_t width = 0;
    uint32_t next = 0;
    bool first = true;

    void reset()
    {
        width = root + 1;
        next = clear + 2;
        first = true;
    }
    // After the decoder has taken a data code.
    void took_data_code()
    {
        if (!first && next < 4096)
            ++next;
        first = false;
        if (next >= (1u << width) && width < 12)
            ++width;
    }
};
} // namespace

std::vector<uint8_t> gif_pack_decoder_codes(const std::vector<uint32_t> &codes, int root_size)
{
    lsb_code_writer packer;
    width_tracker w{static_cast<uint32_t>(root_size), 1u << root_size};
    w.reset();
    for (const uint32_t c : codes) {
        packer.put(c, w.width);
        if (c == w.clear)
            w.reset();
        else if (c != w.clear + 1)
            w.took_data_code();
    }
    return packer.bytes();
}

std::vector<uint8_t> gif_encode_codes(const std::vector<uint8_t> &pixels, int root_size, gif_encode_options options)
{
    const uint32_t clear = 1u << root_size;
    lsb_code_writer packer;
    width_tracker w{static_cast<uint32_t>(root_size), clear};
    w.reset();
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> dict;
    uint32_t next = clear + 2;
    auto emit = [&](uint32_t code) {
        packer.put(code, w.width);
        if (code == clear)
            w.reset();
        else
            w.took_data_code();
    };
    emit(clear);
    if (!pixels.empty()) {
        uint32_t prefix = pixels[0];
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const uint8_t s = pixels[i];
            const auto found = dict.find({prefix, s});
            if (found != dict.end()) {
                prefix = found->second;
                continue;
            }
            emit(prefix);
            if (next < 4096) {
                dict[{prefix, s}] = next++;
            } else if (options.clear_when_full) {
                emit(clear);
                dict.clear();
                next = clear + 2;
            }
            prefix = s;
        }
        emit(prefix);
    }
    if (options.end_code)
        packer.put(clear + 1, w.width);
    return packer.bytes();
}

std::vector<uint8_t> make_pixels(int kind, int32_t width, int32_t height, int colours, uint32_t seed)
{
    std::vector<uint8_t> p(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    uint32_t x = seed * 2654435761u + 1;
    for (int32_t r = 0; r < height; ++r) {
        for (int32_t c = 0; c < width; ++c) {
            uint32_t v = 0;
            switch (kind) {
            case 0:
                v = seed;
                break;
            case 1:
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                v = x >> 8;
                break;
            case 2:
                v = static_cast<uint32_t>(r + c) / 3;
                break;
            default:
                v = static_cast<uint32_t>(c / 5 + r / 7);
                break;
            }
            p[static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + static_cast<std::size_t>(c)] =
                static_cast<uint8_t>(v % static_cast<uint32_t>(colours));
        }
    }
    return p;
}

std::vector<int32_t> interlace_order(int32_t height)
{
    std::vector<int32_t> order;
    const int32_t first[4] = {0, 4, 2, 1};
    const int32_t step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int32_t r = first[pass]; r < height; r += step[pass])
            order.push_back(r);
    return order;
}

} // namespace orveln1::test
