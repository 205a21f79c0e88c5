// SPDX-License-Identifier: MIT
// The scriptable test host: static callbacks that find their host by handle and record each call.
#include "support/host_fakes.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

namespace orveln1::test
{
namespace
{

// Hosts alive on this thread, indexed by handle.
thread_local std::vector<fake_host *> hosts;

fake_host &host_of(int32_t handle)
{
    return *hosts.at(static_cast<std::size_t>(handle));
}

int32_t fake_read(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    fake_host &h = host_of(io_handle);
    const int call = static_cast<int>(h.reads.size());
    h.reads.push_back({buffer, count, io_handle});
    h.trail += 'r';
    int32_t want = h.read_piece ? h.read_piece(count, call) : count;
    const std::size_t left = h.input.size() - h.input_pos;
    const int32_t given = std::clamp<int32_t>(want, 0, static_cast<int32_t>(std::min<std::size_t>(left, INT32_MAX)));
    // A piece may exceed the count asked only to test the clamp: the buffer takes no more.
    const int32_t copied = std::min(given, count);
    if (copied > 0)
        std::memcpy(buffer, h.input.data() + h.input_pos, static_cast<std::size_t>(copied));
    h.input_pos += static_cast<std::size_t>(copied);
    return h.read_result ? h.read_result(copied, count, call) : copied;
}

int32_t fake_write(int32_t io_handle, const uint8_t *buffer, int32_t count)
{
    fake_host &h = host_of(io_handle);
    const int call = static_cast<int>(h.write_counts.size());
    h.write_counts.push_back(count);
    h.trail += 'w';
    const int32_t r = h.write_result ? h.write_result(count, call) : count;
    if (r == count)
        h.output.insert(h.output.end(), buffer, buffer + count);
    return r;
}

int32_t fake_get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    fake_host &h = host_of(row_context);
    const int call = static_cast<int>(h.gets.size());
    h.gets.push_back({buffer, row_index, count, row_context});
    h.trail += 'g';
    const int32_t r = h.get_result ? h.get_result(call) : 0;
    if (r >= 0 && h.fill_row)
        h.fill_row(buffer, row_index, count);
    return r;
}

} // namespace

int32_t fake_put_row(const uint8_t *row, int32_t row_context, int32_t row_index, int32_t row_bytes)
{
    fake_host &h = host_of(row_context);
    const int call = static_cast<int>(h.put_count++);
    h.joined_.insert(h.joined_.end(), row, row + h.put_row_bytes);
    if (h.record_puts) {
        h.puts.push_back({std::vector<uint8_t>(row, row + h.put_row_bytes), row, row_context, row_index, row_bytes});
        h.trail += 'p';
    }
    return h.put_result ? h.put_result(call) : 0;
}

fake_host::fake_host() : handle_(static_cast<int32_t>(hosts.size()))
{
    hosts.push_back(this);
}

fake_host::~fake_host()
{
    hosts[static_cast<std::size_t>(handle_)] = nullptr;
    while (!hosts.empty() && hosts.back() == nullptr)
        hosts.pop_back();
}

codec_callbacks fake_host::callbacks() noexcept
{
    return codec_callbacks{fake_read, fake_write, fake_put_row};
}

get_row_fn fake_host::get_row() noexcept
{
    return fake_get_row;
}

void fake_host::register_callbacks() noexcept
{
    registry_store(fake_read, fake_write, 0, fake_put_row);
}

std::vector<uint8_t> fake_host::rows_joined() const
{
    return joined_;
}

std::function<int32_t(int32_t, int)> pieces_of(int32_t size)
{
    return [size](int32_t asked, int) { return std::min(asked, size); };
}

std::function<int32_t(int32_t, int)> random_pieces(uint32_t seed, int32_t largest)
{
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine, largest](int32_t asked, int) {
        const int32_t n = std::uniform_int_distribution<int32_t>(1, largest)(*engine);
        return std::min(asked, n);
    };
}

std::vector<uint8_t> pack_codes(const std::vector<sized_code> &codes, bool msb_first)
{
    std::vector<uint8_t> out;
    uint64_t acc = 0;
    int held = 0;
    for (const sized_code &c : codes) {
        const uint64_t value = c.code & ((1u << c.width) - 1);
        if (msb_first) {
            acc = acc << c.width | value;
            held += c.width;
            while (held >= 8) {
                held -= 8;
                out.push_back(static_cast<uint8_t>(acc >> held));
            }
        } else {
            acc |= value << held;
            held += c.width;
            while (held >= 8) {
                out.push_back(static_cast<uint8_t>(acc));
                acc >>= 8;
                held -= 8;
            }
        }
    }
    if (held > 0)
        out.push_back(static_cast<uint8_t>(msb_first ? acc << (8 - held) : acc));
    return out;
}

std::vector<uint8_t> make_image_header(int32_t width, int32_t height, int depth, uint32_t compression)
{
    const int entries = depth >= 0 && depth <= 8 ? 1 << depth : 0;
    std::vector<uint8_t> h(40 + 4 * static_cast<std::size_t>(entries), 0);
    auto put32 = [&h](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(width));
    put32(8, static_cast<uint32_t>(height));
    h[12] = 1;
    h[14] = static_cast<uint8_t>(depth);
    h[15] = static_cast<uint8_t>(depth >> 8);
    put32(16, compression);
    for (int i = 0; i < entries; ++i) {
        const auto grey = static_cast<uint8_t>(i * 255 / std::max(entries - 1, 1));
        std::memset(&h[40 + 4 * static_cast<std::size_t>(i)], grey, 3);
    }
    return h;
}

std::vector<uint8_t> make_bytes(content kind, std::size_t count, uint32_t seed)
{
    std::vector<uint8_t> v(count);
    std::mt19937 engine(seed);
    switch (kind) {
    case content::flat:
        std::fill(v.begin(), v.end(), static_cast<uint8_t>(seed));
        break;
    case content::noise:
        for (auto &b : v)
            b = static_cast<uint8_t>(engine());
        break;
    case content::gradient:
        for (std::size_t i = 0; i < count; ++i)
            v[i] = static_cast<uint8_t>((i / 7 + i / 253 + seed) & 0xFF);
        break;
    }
    return v;
}

} // namespace orveln1::test
