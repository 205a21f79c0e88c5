// SPDX-License-Identifier: MIT
// TIFF LZW strips as plain bytes: the strip decoder's rows gathered into one caller-owned sequence,
// and the strip coder run over a byte span in place. Like the rest of the in-memory interface, each
// call's callbacks find its state through a thread-local pointer.
#include <algorithm>
#include <cstring>
#include <new>

#include "api/current_call.hpp"
#include "boundary/result_codes.hpp"
#include "orveln1.hpp"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

namespace orveln1
{
namespace
{

// The decoder hands its bytes over in rows of this many. Long rows mean few calls and copies that
// stream; short ones keep the row buffer, beside the decode table, in the nearest cache.
constexpr std::size_t BYTES_ROW = 32 * 1024;
// The put_row refusals that stop the decoder once the limit is reached or the sink cannot grow.
constexpr int32_t STOP_AT_LIMIT = -2000;
constexpr int32_t STOP_NO_ROOM = -2001;
// A first guess at the decoded size, as a multiple of the strip's: LZW rarely packs image data
// tighter than this, and the sink grows when it does.
constexpr std::size_t FIRST_GUESS_RATIO = 4;
constexpr std::size_t FIRST_GUESS_MIN = 4096;

struct bytes_call {
    std::span<const uint8_t> input;
    std::size_t input_pos = 0;
    byte_sink *sink = nullptr;
    std::size_t filled = 0;
    std::size_t limit = 0;
    std::size_t row_bytes = 0;
    bool dropped = false; // bytes past the limit were left out
    // Encoding into a span.
    std::span<uint8_t> out;
};

thread_local bytes_call *current_bytes = nullptr;

int32_t ORVELN1_CDECL read_strip(int32_t, uint8_t *buffer, int32_t count)
{
    bytes_call &s = *current_bytes;
    if (count <= 0)
        return 0;
    const std::size_t n = std::min(s.input.size() - s.input_pos, static_cast<std::size_t>(count));
    if (n > 0)
        std::memcpy(buffer, s.input.data() + s.input_pos, n);
    // Zeros past the data keep the bytes the code window may read past it the same from run to run.
    std::memset(buffer + n, 0, static_cast<std::size_t>(count) - n);
    s.input_pos += n;
    return static_cast<int32_t>(n);
}

// Appends up to n bytes, as far as the limit allows, growing the sink as needed.
bool append(bytes_call &s, const uint8_t *bytes, std::size_t n) noexcept
{
    if (n > s.limit - s.filled) {
        n = s.limit - s.filled;
        s.dropped = true;
    }
    byte_sink &sink = *s.sink;
    if (s.filled + n > sink.capacity) {
        // Doubling keeps the copies a growing buffer makes to about the bytes decoded.
        const std::size_t wanted = std::min(s.limit, std::max(s.filled + n, 2 * sink.capacity));
        if (sink.grow == nullptr || !sink.grow(sink, wanted) || sink.capacity < s.filled + n)
            return false;
    }
    if (n > 0)
        std::memcpy(sink.data + s.filled, bytes, n);
    s.filled += n;
    return true;
}

int32_t ORVELN1_CDECL put_bytes_row(const uint8_t *row, int32_t, int32_t, int32_t)
{
    bytes_call &s = *current_bytes;
    if (!append(s, row, s.row_bytes))
        return STOP_NO_ROOM;
    return s.filled == s.limit ? STOP_AT_LIMIT : 0;
}

int32_t ORVELN1_CDECL write_to_span(int32_t, const uint8_t *buffer, int32_t count)
{
    bytes_call &s = *current_bytes;
    if (count <= 0)
        return 0;
    const std::size_t n = std::min(s.out.size() - s.filled, static_cast<std::size_t>(count));
    std::memcpy(s.out.data() + s.filled, buffer, n);
    s.filled += n;
    return static_cast<int32_t>(n);
}

bool grow_vector(byte_sink &sink, std::size_t wanted) noexcept
{
    auto &v = *static_cast<byte_vector *>(sink.context);
    try {
        v.resize(wanted);
    } catch (const std::bad_alloc &) {
        return false;
    }
    sink.data = v.data();
    sink.capacity = v.size();
    return true;
}

} // namespace

result<tif_bytes_decoded> decode_tif_bytes(std::span<const uint8_t> strip, byte_sink &sink, std::size_t limit) noexcept
{
    result<tif_bytes_decoded> out;
    if (sink.grow == nullptr)
        limit = std::min(limit, sink.capacity);
    if (limit == 0) {
        out.value.limited = true;
        return out;
    }
    bytes_call state;
    state.input = strip;
    state.sink = &sink;
    state.limit = limit;
    state.row_bytes = std::min(BYTES_ROW, limit);
    tif_strip_end end;
    int32_t r = 0;
    try {
        std::vector<uint8_t> read_buffer(TIF_READ_BUFFER_BYTES);
        std::vector<uint8_t> row_buffer(state.row_bytes + TIF_ROW_SLACK_BYTES);
        const codec_callbacks cb{read_strip, nullptr, put_bytes_row};
        const current_call<bytes_call> scope(current_bytes, state);
        // A row count of 0 sets no limit: the strip's end or the limit ends the decoding.
        r = tif_lzw_decompress(cb, 0, read_buffer.data(), 0, static_cast<uint32_t>(state.row_bytes), row_buffer.data(),
                               0, 0, &end);
        if (r == 1 || (r == ERR_BAD_DATA && end.data_ran_out)) {
            if (!append(state, row_buffer.data(), end.unfinished_bytes))
                r = STOP_NO_ROOM;
        }
    } catch (const std::bad_alloc &) {
        r = STOP_NO_ROOM;
    }
    const bool ran_out = r == ERR_BAD_DATA && end.data_ran_out;
    if (r != STOP_AT_LIMIT && r != 1 && !ran_out) {
        out.code = r == STOP_NO_ROOM ? ERR_NO_MEMORY : r;
        return out;
    }
    // Decoding stops at the limit as soon as it is reached, before the code after it is read: the
    // strip may have held no more.
    out.value.size = state.filled;
    out.value.limited = r == STOP_AT_LIMIT || state.dropped;
    out.value.complete = r == 1 && !state.dropped;
    out.value.truncated = ran_out && !state.dropped;
    return out;
}

result<byte_vector> decode_tif_bytes(std::span<const uint8_t> strip, std::size_t limit) noexcept
{
    result<byte_vector> out;
    try {
        const std::size_t guess = std::min(limit, std::max(FIRST_GUESS_MIN, strip.size() * FIRST_GUESS_RATIO));
        out.value.resize(guess);
    } catch (const std::bad_alloc &) {
        out.code = ERR_NO_MEMORY;
        return out;
    }
    byte_sink sink{out.value.data(), out.value.size(), grow_vector, &out.value};
    const result<tif_bytes_decoded> r = decode_tif_bytes(strip, sink, limit);
    out.code = r.code;
    if (r.ok())
        out.value.resize(r.value.size);
    else
        out.value.clear();
    return out;
}

std::size_t encode_tif_bytes_bound(std::size_t size) noexcept
{
    // At most one 12-bit code a byte, a clear code for every table generation (each takes at least
    // 3822 codes), and the first clear code, the end code and the last byte's padding.
    return size + size / 2 + size / 2048 + 8;
}

result<std::size_t> encode_tif_bytes(std::span<const uint8_t> bytes, std::span<uint8_t> out) noexcept
{
    result<std::size_t> res;
    bytes_call state;
    state.out = out;
    {
        const current_call<bytes_call> scope(current_bytes, state);
        res.code = tif_lzw_compress_bytes(write_to_span, 0, bytes.data(), bytes.size());
    }
    res.value = res.ok() ? state.filled : 0;
    return res;
}

result<byte_vector> encode_tif_bytes(std::span<const uint8_t> bytes) noexcept
{
    result<byte_vector> out;
    try {
        out.value.resize(encode_tif_bytes_bound(bytes.size()));
    } catch (const std::bad_alloc &) {
        out.code = ERR_NO_MEMORY;
        return out;
    }
    const result<std::size_t> r = encode_tif_bytes(bytes, out.value);
    out.code = r.code;
    out.value.resize(r.ok() ? r.value : 0);
    return out;
}

} // namespace orveln1
