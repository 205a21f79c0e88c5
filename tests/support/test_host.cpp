// SPDX-License-Identifier: MIT
// The test host: static callbacks that find their host by handle, record each call on the trail
// and fail where the test asked.
#include "support/test_host.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string_view>

namespace orveln1::test
{
namespace
{

// Hosts alive on this thread, indexed by handle.
thread_local std::vector<test_host *> hosts;

test_host *host_of(int32_t handle)
{
    return handle >= 0 && static_cast<std::size_t>(handle) < hosts.size() ? hosts[static_cast<std::size_t>(handle)]
                                                                          : nullptr;
}

} // namespace

test_host::test_host() : handle_(static_cast<int32_t>(hosts.size()))
{
    hosts.push_back(this);
}

test_host::~test_host()
{
    hosts[static_cast<std::size_t>(handle_)] = nullptr;
    while (!hosts.empty() && hosts.back() == nullptr)
        hosts.pop_back();
}

// Records and counts the call; true when this call is to fail.
bool test_host::note_call(char kind, int32_t value, int64_t fail_at)
{
    calls_after_failure += failed_ ? 1 : 0;
    if (kind != 'p' || record_puts)
        events.push_back({kind, value});
    const int64_t call = ++counts_[std::string_view("rwgp").find(kind)];
    const bool fail = fail_at > 0 && call >= fail_at;
    failed_ = failed_ || fail;
    return fail;
}

int32_t test_host::read(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    test_host *h = host_of(io_handle);
    if (h == nullptr)
        return -1;
    h->reads.push_back({buffer, count, io_handle});
    if (h->note_call('r', count, h->fail_read_at))
        return h->read_failure;
    const int call = static_cast<int>(h->counts_[0] - 1);
    const int32_t want = h->read_piece ? h->read_piece(count, call) : count;
    const std::size_t left = h->input.size() - h->input_pos;
    const int32_t given = std::clamp<int32_t>(want, 0, static_cast<int32_t>(std::min<std::size_t>(left, INT32_MAX)));
    // A piece may exceed the count asked only to test the clamp: the buffer takes no more.
    const int32_t copied = std::min(given, count);
    if (copied > 0)
        std::memcpy(buffer, h->input.data() + h->input_pos, static_cast<std::size_t>(copied));
    h->input_pos += static_cast<std::size_t>(copied);
    return h->read_claim ? h->read_claim(copied, call) : copied;
}

int32_t test_host::write(int32_t io_handle, const uint8_t *buffer, int32_t count)
{
    test_host *h = host_of(io_handle);
    if (h == nullptr)
        return -1;
    const int32_t taken = h->note_call('w', count, h->fail_write_at) ? std::max(0, count - h->short_by) : count;
    h->writes = h->counts_[1];
    h->output.insert(h->output.end(), buffer, buffer + taken);
    return taken;
}

int32_t test_host::get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    test_host *h = host_of(row_context);
    if (h == nullptr)
        return -1;
    h->gets.push_back({buffer, row_index, count, row_context});
    if (h->note_call('g', row_index, h->fail_get_row_at))
        return h->get_row_failure;
    if (h->image_ != nullptr) {
        if (row_index < 0 || row_index >= h->image_->height)
            return -77;
        const std::vector<uint8_t> row = h->image_->packed_row(row_index);
        if (static_cast<std::size_t>(count) != row.size())
            h->bad_row_count = true;
        std::memcpy(buffer, row.data(), std::min(row.size(), static_cast<std::size_t>(count)));
    } else if (h->fill_row) {
        h->fill_row(buffer, row_index, count);
    }
    return 0;
}

int32_t test_host::put_row(const uint8_t *row, int32_t row_context, int32_t row_index, int32_t row_bytes)
{
    test_host *h = host_of(row_context);
    if (h == nullptr)
        return -1;
    ++h->put_count;
    const std::size_t kept = h->put_row_bytes != 0 ? h->put_row_bytes : static_cast<std::size_t>(row_bytes);
    h->last_row.assign(row, row + kept);
    if (h->join_rows)
        h->joined_.insert(h->joined_.end(), row, row + kept);
    if (h->record_puts)
        h->puts.push_back({h->last_row, row, row_context, row_index, row_bytes});
    return h->note_call('p', row_index, h->fail_put_row_at) ? h->put_row_failure : 0;
}

void test_host::serve_bytes(const std::vector<uint8_t> &data, std::size_t stride)
{
    fill_row = [&data, stride](uint8_t *buffer, int32_t index, int32_t count) {
        std::fill(buffer, buffer + count, 0);
        const std::size_t from = static_cast<std::size_t>(index) * stride;
        if (from < data.size())
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from),
                        std::min({stride, data.size() - from, static_cast<std::size_t>(count)}), buffer);
    };
}

std::string test_host::trail() const
{
    std::string t;
    for (const host_event &e : events)
        t += e.kind;
    return t;
}

std::vector<int32_t> test_host::values(char kind) const
{
    std::vector<int32_t> v;
    for (const host_event &e : events)
        if (e.kind == kind)
            v.push_back(e.value);
    return v;
}

std::vector<uint8_t> test_host::pixels(int32_t width) const
{
    std::vector<uint8_t> out;
    for (const put_call &p : puts)
        out.insert(out.end(), p.bytes.begin(), p.bytes.begin() + width);
    return out;
}

std::function<int32_t(int32_t, int)> pieces_of(int32_t size)
{
    return [size](int32_t asked, int) { return std::min(asked, size); };
}

std::function<int32_t(int32_t, int)> random_pieces(uint32_t seed, int32_t largest)
{
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine, largest](int32_t asked, int) {
        return std::min(asked, std::uniform_int_distribution<int32_t>(1, largest)(*engine));
    };
}

} // namespace orveln1::test
