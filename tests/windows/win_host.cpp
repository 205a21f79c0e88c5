// SPDX-License-Identifier: MIT
// Windows test host: loads orveln1.dll the way an imaging host does and drives every export through
// the real stdcall/cdecl boundary, checking results, stream bytes and callback call sequences.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "orveln1.h"
#include "orveln1.hpp"

namespace
{

// ---------------------------------------------------------------------------------------------
// The module and its exports, resolved by name; the ordinal of each is checked against the name.

using set_callbacks_fn = int32_t(ORVELN1_CALL *)(orveln1_read_fn, orveln1_write_fn, int32_t, orveln1_put_row_fn);
using decode_gif_fn = int32_t(ORVELN1_CALL *)(int32_t, uint8_t *, const void *, orveln1_put_row_fn, int32_t, int32_t);
using decode_tif_fn = int32_t(ORVELN1_CALL *)(int32_t, uint8_t *, int32_t, uint32_t, uint8_t *, uint32_t, int32_t);
using encode_gif_fn = int32_t(ORVELN1_CALL *)(int32_t, const void *, orveln1_get_row_fn, int32_t);
using encode_tif_fn = int32_t(ORVELN1_CALL *)(const void *, int32_t, int32_t, int32_t, int32_t, orveln1_get_row_fn,
                                              int32_t, int32_t);

struct export_entry {
    const char *name;
    WORD ordinal;
    FARPROC address;
};

export_entry exports_table[] = {
    {"set_callbacks", 2, nullptr}, {"decode_gif", 3, nullptr},  {"decode_tif", 4, nullptr},
    {"encode_gif", 5, nullptr},    {"encode_gifi", 6, nullptr}, {"encode_tif", 7, nullptr},
};

template <class Fn> Fn export_named(const char *name)
{
    for (const export_entry &e : exports_table)
        if (std::strcmp(e.name, name) == 0)
            return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(e.address));
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Calling an export. On 32-bit Windows every call goes through a thunk that pushes the argument
// words itself and measures the stack pointer after the return: a callee-clean export leaves it
// where it was before the arguments were pushed, a caller-clean one 4 bytes per argument lower.

#if defined(__i386__)
// skew: bytes (0, 4, 8 or 12) the stack pointer lies below a 16-byte boundary at the call.
extern "C" int32_t __cdecl host_call_words(const void *fn, const uint32_t *words, int32_t count, int32_t *stack_change,
                                           int32_t skew);
// Returns the stack pointer as it was at the call instruction (the return address popped).
extern "C" int32_t __cdecl host_stack_at_call();
asm(R"(
    .text
    .globl _host_call_words
_host_call_words:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    # Align the stack so that it is 16-byte aligned once the arguments are pushed.
    leal  0(,%ecx,4), %eax
    subl  %eax, %esp
    andl  $-16, %esp
    addl  %eax, %esp
    subl  24(%ebp), %esp
    movl  %esp, %ebx
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    movl  %esp, %edx
    subl  %ebx, %edx
    movl  20(%ebp), %ecx
    movl  %edx, (%ecx)
    leal  -12(%ebp), %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret

    .globl _host_stack_at_call
_host_stack_at_call:
    leal  4(%esp), %eax
    ret
)");
#endif

int passed = 0;
int failed = 0;
int skipped = 0;
int case_failures = 0;
const char *case_name = "";

void check(bool ok, const char *what, int line)
{
    if (ok)
        return;
    ++case_failures;
    std::printf("  FAIL %s (line %d): %s\n", case_name, line, what);
}
#define CHECK(cond) check((cond), #cond, __LINE__)
#define CHECK_EQ(a, b) check((a) == (b), #a " == " #b, __LINE__)

template <class T> uint32_t to_word(T value)
{
    if constexpr (std::is_pointer_v<T>)
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
    else
        return static_cast<uint32_t>(value);
}

// How far below a 16-byte boundary the thunk leaves the stack pointer at each export call.
[[maybe_unused]] int32_t call_skew = 0;

template <class Fn, class... Args> int32_t call_export(Fn fn, Args... args)
{
#if defined(__i386__)
    const uint32_t words[] = {to_word(args)..., 0};
    int32_t stack_change = 0;
    const int32_t result =
        host_call_words(reinterpret_cast<const void *>(fn), words, sizeof...(Args), &stack_change, call_skew);
    // Every argument is one 32-bit word and the export removes all of them.
    check(stack_change == 0, "export is callee-clean (stack pointer unchanged after the call)", __LINE__);
    return result;
#else
    return fn(args...);
#endif
}

// ---------------------------------------------------------------------------------------------
// The host side of the callbacks: one input stream, one output stream, one image source and one
// row sink, with every call recorded in order.

constexpr int32_t io_handle = 0x5EED1234;
constexpr int32_t row_context = 0x0BADCAFE;

struct event {
    char kind; // 'r' read, 'w' write, 'g' get_row, 'p' put_row
    int32_t a; // count asked (r, w, g) or row index (p)
    int32_t b; // row index (g) or fourth argument (p)
};

struct host_state {
    // read_fn
    std::vector<uint8_t> input;
    size_t input_pos = 0;
    const uint8_t *read_buffer_base = nullptr;
    std::vector<int32_t> read_offsets; // destination relative to read_buffer_base
    // write_fn
    std::vector<uint8_t> output;
    std::vector<int32_t> write_sizes;
    int short_write_at = -1; // index of the write that takes one byte fewer
    // get_row_fn
    std::vector<std::vector<uint8_t>> image; // rows as the host holds them
    int failing_get_row = -1;                // index of the call that fails
    int32_t get_row_failure = 0;
    // put_row_fn
    size_t put_row_copy = 0; // bytes of each delivered row to keep
    std::vector<std::vector<uint8_t>> rows;
    int failing_put_row = -1;
    int32_t put_row_failure = 0;
    const char *put_row_tag = "a";
    std::vector<char> put_row_tags;
    // every callback in call order, and any handle that did not come back unchanged
    std::vector<event> events;
    int bad_handles = 0;
};

host_state host;

void reset_host()
{
    host = host_state{};
}

int32_t ORVELN1_CDECL host_read(int32_t handle, uint8_t *buffer, int32_t count)
{
    host.bad_handles += handle != io_handle;
    host.events.push_back({'r', count, 0});
    host.read_offsets.push_back(host.read_buffer_base ? static_cast<int32_t>(buffer - host.read_buffer_base) : -1);
    const size_t left = host.input.size() - host.input_pos;
    const size_t n = count < 0 ? 0 : (static_cast<size_t>(count) < left ? static_cast<size_t>(count) : left);
    if (n > 0)
        std::memcpy(buffer, host.input.data() + host.input_pos, n);
    host.input_pos += n;
    return static_cast<int32_t>(n);
}

int32_t ORVELN1_CDECL host_write(int32_t handle, const uint8_t *buffer, int32_t count)
{
    host.bad_handles += handle != io_handle;
    host.events.push_back({'w', count, 0});
    const bool short_one = static_cast<int>(host.write_sizes.size()) == host.short_write_at;
    host.write_sizes.push_back(count);
    const int32_t taken = short_one ? count - 1 : count;
    host.output.insert(host.output.end(), buffer, buffer + taken);
    return taken;
}

int32_t ORVELN1_CDECL host_get_row(int32_t context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    host.bad_handles += context != row_context;
    const int call = static_cast<int>(
        std::count_if(host.events.begin(), host.events.end(), [](const event &e) { return e.kind == 'g'; }));
    host.events.push_back({'g', count, row_index});
    if (call == host.failing_get_row)
        return host.get_row_failure;
    if (row_index >= 0 && static_cast<size_t>(row_index) < host.image.size()) {
        const std::vector<uint8_t> &row = host.image[static_cast<size_t>(row_index)];
        std::memcpy(buffer, row.data(),
                    static_cast<size_t>(count) < row.size() ? static_cast<size_t>(count) : row.size());
    }
    return 0;
}

int32_t ORVELN1_CDECL host_put_row(const uint8_t *row, int32_t context, int32_t row_index, int32_t row_bytes)
{
    host.bad_handles += context != row_context;
    host.events.push_back({'p', row_index, row_bytes});
    host.put_row_tags.push_back(host.put_row_tag[0]);
    host.rows.emplace_back(row, row + host.put_row_copy);
    if (static_cast<int>(host.rows.size()) - 1 == host.failing_put_row)
        return host.put_row_failure;
    return 0;
}

// A second row sink, to see that registering again replaces the row slot.
int32_t ORVELN1_CDECL host_put_row_other(const uint8_t *row, int32_t context, int32_t row_index, int32_t row_bytes)
{
    host.put_row_tag = "b";
    return host_put_row(row, context, row_index, row_bytes);
}

std::vector<int32_t> events_of(char kind, bool second = false)
{
    std::vector<int32_t> out;
    for (const event &e : host.events)
        if (e.kind == kind)
            out.push_back(second ? e.b : e.a);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Images and headers.

uint32_t rng_state = 0x2545F491;
uint32_t next_random()
{
    rng_state ^= rng_state << 13;
    rng_state ^= rng_state >> 17;
    rng_state ^= rng_state << 5;
    return rng_state;
}

int32_t padded_bytes(int32_t width, int depth)
{
    const int64_t w = width;
    int64_t n = depth == 1 ? (w + 7) / 8 : depth == 4 ? (w + 1) / 2 : w * (depth >= 16 ? depth / 8 : 1);
    return static_cast<int32_t>((n + 3) / 4 * 4);
}

int32_t meaningful_bytes(int32_t width, int depth)
{
    switch (depth) {
    case 1:
        return (width + 7) / 8;
    case 4:
        return (width + 1) / 2;
    case 8:
        return width;
    case 16:
        return width * 2;
    case 24:
        return width * 3;
    case 32:
        return width * 4;
    default:
        return 0;
    }
}

// A bitmap info header of header_size bytes followed by 256 palette entries.
std::vector<uint8_t> make_header(int32_t width, int32_t height, int depth, uint32_t compression = 0,
                                 bool transparent = false, uint8_t transparent_index = 0, uint32_t header_size = 40)
{
    std::vector<uint8_t> h(header_size + 256 * 4, 0);
    orveln1_image_header bih{};
    bih.biSize = header_size;
    bih.biWidth = width;
    bih.biHeight = height;
    bih.biPlanes = 1;
    bih.biBitCount = static_cast<uint16_t>(depth);
    bih.biCompression = compression;
    bih.biClrUsed = transparent_index | (transparent ? ORVELN1_TRANSPARENT_FLAG << 8 : 0u);
    std::memcpy(h.data(), &bih, sizeof bih);
    for (int i = 0; i < 256; ++i) { // blue, green, red, reserved
        uint8_t *p = h.data() + header_size + 4 * i;
        p[0] = static_cast<uint8_t>(i * 3);
        p[1] = static_cast<uint8_t>(i * 5 + 1);
        p[2] = static_cast<uint8_t>(i * 7 + 2);
        p[3] = 0xEE;
    }
    return h;
}

enum class fill { random, runs, gradient };

// Rows of padded length; pixel values stay below 2^depth for the palette depths.
std::vector<std::vector<uint8_t>> make_image(int32_t width, int32_t height, int depth, fill kind)
{
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height));
    const int32_t bytes = padded_bytes(width, depth);
    for (int32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> &row = rows[static_cast<size_t>(y)];
        row.resize(static_cast<size_t>(bytes));
        for (int32_t x = 0; x < bytes; ++x) {
            uint32_t v = kind == fill::random     ? next_random()
                         : kind == fill::gradient ? static_cast<uint32_t>(x + 3 * y)
                                                  : static_cast<uint32_t>((x / 37 + y / 5) * 29);
            row[static_cast<size_t>(x)] = static_cast<uint8_t>(v);
        }
    }
    return rows;
}

// The four-pass GIF row order.
std::vector<int32_t> interlace_order(int32_t height)
{
    std::vector<int32_t> order;
    const int32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int32_t r = start[pass]; r < height; r += step[pass])
            order.push_back(r);
    return order;
}

std::vector<int32_t> iota(int32_t from, int32_t count)
{
    std::vector<int32_t> v;
    for (int32_t i = 0; i < count; ++i)
        v.push_back(from + i);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Export wrappers: register the host callbacks, call, return the result.

int32_t register_host(orveln1_put_row_fn put_row = host_put_row, int32_t spare = 0)
{
    return call_export(export_named<set_callbacks_fn>("set_callbacks"), host_read, host_write, spare, put_row);
}

int32_t run_encode_gif(bool interlaced, const std::vector<uint8_t> &header)
{
    register_host();
    return call_export(export_named<encode_gif_fn>(interlaced ? "encode_gifi" : "encode_gif"), io_handle,
                       static_cast<const void *>(header.data()), host_get_row, row_context);
}

int32_t run_decode_gif(const std::vector<uint8_t> &header, int32_t code_size_word, orveln1_put_row_fn put_row)
{
    register_host();
    std::vector<uint8_t> read_buffer(ORVELN1_GIF_READ_BUFFER_BYTES + 64);
    host.read_buffer_base = read_buffer.data();
    return call_export(export_named<decode_gif_fn>("decode_gif"), io_handle, read_buffer.data(),
                       static_cast<const void *>(header.data()), put_row, row_context, code_size_word);
}

int32_t run_decode_tif(int32_t first_row, uint32_t row_bytes, uint32_t row_count, int32_t spare = 0)
{
    register_host(host_put_row, spare);
    std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES + 64);
    std::vector<uint8_t> row_buffer(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES + 64);
    host.read_buffer_base = read_buffer.data();
    host.put_row_copy = row_bytes;
    return call_export(export_named<decode_tif_fn>("decode_tif"), io_handle, read_buffer.data(), first_row, row_bytes,
                       row_buffer.data(), row_count, row_context);
}

int32_t run_encode_tif(const std::vector<uint8_t> &header, int32_t row_offset, int32_t row_count, int32_t first_row,
                       int32_t spare = 0)
{
    register_host();
    return call_export(export_named<encode_tif_fn>("encode_tif"), static_cast<const void *>(header.data()), io_handle,
                       row_offset, spare, row_count, host_get_row, row_context, first_row);
}

// What the library's GIF stream reader finds in a stream written by encode_gif: one image, whose
// data sub-blocks are followed by the trailer and nothing else.
struct gif_layout {
    bool ok = false;
    int32_t code_size_word = 0;
    size_t data_start = 0;
    size_t sub_blocks = 0;      // data sub-blocks before the terminator
    bool sizes_ok = true;       // every sub-block but the last 253 or 254 bytes
    bool terminated_ok = false; // terminator then trailer, then nothing
};

gif_layout parse_gif(const std::vector<uint8_t> &s)
{
    gif_layout g;
    const orveln1::result<orveln1::gif_stream> stream = orveln1::read_gif_stream(s);
    if (stream.value.images.size() != 1)
        return g;
    const orveln1::gif_image &image = stream.value.images[0];
    g.code_size_word = image.code_size_word;
    g.data_start = static_cast<size_t>(image.sub_blocks.data() - s.data());
    const std::vector<std::span<const uint8_t>> pieces = orveln1::gif_sub_block_contents(image.sub_blocks);
    g.sub_blocks = pieces.size();
    for (size_t i = 0; i + 1 < pieces.size(); ++i)
        g.sizes_ok = g.sizes_ok && (pieces[i].size() == 253 || pieces[i].size() == 254);
    g.terminated_ok = stream.ok() && image.data_complete && stream.value.bytes_read == s.size();
    g.ok = true;
    return g;
}

bool have(const char *name)
{
    return export_named<FARPROC>(name) != nullptr;
}

// Runs one case unless an export it drives is missing from the module.
std::string case_label;
std::vector<std::string> missing_exports;
template <class Body> void run_case(const std::string &name, std::initializer_list<const char *> needs, Body body)
{
    for (const char *n : needs) {
        if (!have(n)) {
            ++skipped;
            if (std::find(missing_exports.begin(), missing_exports.end(), std::string(n)) == missing_exports.end())
                missing_exports.push_back(n);
            return;
        }
    }
    case_label = name;
    case_name = case_label.c_str();
    case_failures = 0;
    reset_host();
    body();
    CHECK_EQ(host.bad_handles, 0);
    if (case_failures == 0)
        ++passed;
    else
        ++failed;
}

// ---------------------------------------------------------------------------------------------
// The module itself.

HMODULE module_handle = nullptr;

void exports_resolve_by_name_and_ordinal()
{
    for (export_entry &e : exports_table) {
        FARPROC by_ordinal = GetProcAddress(module_handle, MAKEINTRESOURCEA(e.ordinal));
        CHECK(e.address != nullptr);
        CHECK(by_ordinal == e.address);
    }
    // Ordinal 1 is unused and nothing lies beyond 7; no decorated name exists.
    CHECK(GetProcAddress(module_handle, MAKEINTRESOURCEA(1)) == nullptr);
    CHECK(GetProcAddress(module_handle, MAKEINTRESOURCEA(8)) == nullptr);
    CHECK(GetProcAddress(module_handle, "_set_callbacks@16") == nullptr);
    CHECK(GetProcAddress(module_handle, "DllMain") == nullptr);
    CHECK(GetProcAddress(module_handle, "lzw_alloc") == nullptr);
}

#if defined(__i386__)
// The thunk's measurement means something: a caller-clean function called through it leaves its
// three argument words on the stack.
void stack_thunk_sees_caller_clean_calls()
{
    const uint32_t words[] = {static_cast<uint32_t>(io_handle), 0, 0};
    int32_t stack_change = 0;
    host_call_words(reinterpret_cast<const void *>(host_read), words, 3, &stack_change, 0);
    CHECK_EQ(stack_change, -12);
}
#endif

void set_callbacks_returns_zero_for_anything()
{
    auto set = export_named<set_callbacks_fn>("set_callbacks");
    CHECK_EQ(call_export(set, host_read, host_write, 0, host_put_row), 0);
    CHECK_EQ(call_export(set, static_cast<orveln1_read_fn>(nullptr), static_cast<orveln1_write_fn>(nullptr), -1,
                         static_cast<orveln1_put_row_fn>(nullptr)),
             0);
    CHECK(host.events.empty());
}

// ---------------------------------------------------------------------------------------------
// Independent walkers over the code streams, to count clear codes and find the end code where a
// decoder finds it (GIF widens when the next entry reaches 2^width, TIFF one entry earlier).

struct code_walk {
    int clears = 0;
    int codes = 0;
    bool ended = false;
    size_t bytes_used = 0;
};

code_walk walk_codes(const std::vector<uint8_t> &data, int root, bool tiff)
{
    code_walk w;
    const int clear = 1 << root, end = clear + 1;
    int width = root + 1, next = clear + 2;
    bool literal_next = true;
    size_t pos = 0;
    const size_t total = data.size() * 8;
    while (pos + static_cast<size_t>(width) <= total) {
        int code = 0;
        for (int i = 0; i < width; ++i) {
            const size_t b = pos + static_cast<size_t>(i);
            if (tiff)
                code = code << 1 | (data[b / 8] >> (7 - b % 8) & 1);
            else
                code |= (data[b / 8] >> (b % 8) & 1) << i;
        }
        pos += static_cast<size_t>(width);
        ++w.codes;
        if (code == clear) {
            ++w.clears;
            width = root + 1;
            next = clear + 2;
            literal_next = true;
            continue;
        }
        if (code == end) {
            w.ended = true;
            break;
        }
        if (literal_next) {
            literal_next = false;
            continue;
        }
        ++next;
        if (width < 12 && next == (1 << width) - (tiff ? 1 : 0))
            ++width;
    }
    w.bytes_used = (pos + 7) / 8;
    return w;
}

// The LZW bytes of the stream's image, without the sub-blocks' length bytes.
std::vector<uint8_t> gif_data_bytes(const std::vector<uint8_t> &stream)
{
    std::vector<uint8_t> out;
    const orveln1::result<orveln1::gif_stream> read = orveln1::read_gif_stream(stream);
    if (read.value.images.empty())
        return out;
    for (const std::span<const uint8_t> piece : orveln1::gif_sub_block_contents(read.value.images[0].sub_blocks))
        out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

std::vector<uint8_t> bytes(std::initializer_list<int> v)
{
    std::vector<uint8_t> out;
    for (int b : v)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

std::vector<uint8_t> palette_rgb(const std::vector<uint8_t> &header, int entries)
{
    uint32_t size = 0;
    std::memcpy(&size, header.data(), 4);
    std::vector<uint8_t> out;
    for (int i = 0; i < entries; ++i) {
        const uint8_t *q = header.data() + size + 4 * i;
        out.insert(out.end(), {q[2], q[1], q[0]});
    }
    return out;
}

bool same_pixels(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int32_t width, int depth)
{
    if (depth == 4) {
        const size_t whole = static_cast<size_t>(width / 2);
        if (!std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(whole), b.begin()))
            return false;
        return width % 2 == 0 || (a[whole] & 0xF0) == (b[whole] & 0xF0);
    }
    return std::equal(a.begin(), a.begin() + width, b.begin());
}

// ---------------------------------------------------------------------------------------------
// GIF stream writer and compressor through encode_gif / encode_gifi.

void gif_writer_two_pixel_image(bool interlaced)
{
    const std::vector<uint8_t> header = make_header(2, 1, 8);
    host.image = {bytes({0, 1, 0xAA, 0xBB})};
    CHECK_EQ(run_encode_gif(interlaced, header), 0);

    std::vector<uint8_t> expected = bytes({'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x87, 0, 0});
    const std::vector<uint8_t> table = palette_rgb(header, 256);
    expected.insert(expected.end(), table.begin(), table.end());
    const std::vector<uint8_t> tail = bytes(
        {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, interlaced ? 0x47 : 0x07, 8, 0x05, 0x00, 0x01, 0x04, 0x08, 0x08, 0x00, 0x3B});
    expected.insert(expected.end(), tail.begin(), tail.end());
    CHECK(host.output == expected);
    CHECK(host.write_sizes == (std::vector<int32_t>{6, 2, 2, 1, 1, 1, 768, 1, 2, 2, 2, 2, 2, 1, 5, 1, 1}));
    CHECK(events_of('g', true) == std::vector<int32_t>{0});
    CHECK(events_of('g') == std::vector<int32_t>{4});
}

void gif_writer_transparent_four_bit(bool interlaced, uint8_t index)
{
    // A 64-byte header: the palette is found through biSize, not at a fixed 40.
    const std::vector<uint8_t> header = make_header(4, 1, 4, 0, true, index, 64);
    host.image = {bytes({0x33, 0x33, 0, 0})};
    CHECK_EQ(run_encode_gif(interlaced, header), 0);

    std::vector<uint8_t> expected = bytes({'G', 'I', 'F', '8', '9', 'a', 4, 0, 1, 0, 0x83, 0, 0});
    const std::vector<uint8_t> table = palette_rgb(header, 16);
    expected.insert(expected.end(), table.begin(), table.end());
    const std::vector<uint8_t> tail =
        bytes({0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, index, 0x00, 0x2C, 0, 0, 0, 0, 4, 0, 1, 0, interlaced ? 0x43 : 0x03,
               4,    0x04, 0x70, 0xC8, 0x11, 0x01, 0x00,  0x3B});
    expected.insert(expected.end(), tail.begin(), tail.end());
    CHECK(host.output == expected);
    CHECK(host.write_sizes == (std::vector<int32_t>{6, 2, 2, 1, 1, 1, 48, 1, 1, 5, 1, 1, 2, 2, 2, 2, 2, 1, 4, 1, 1}));
}

void gif_writer_refuses_depth(bool interlaced, int depth)
{
    host.image = make_image(8, 2, 8, fill::gradient);
    CHECK_EQ(run_encode_gif(interlaced, make_header(8, 2, depth)), ORVELN1_ERR_UNSUPPORTED_DEPTH);
    CHECK(host.events.empty());
}

// A write that takes one byte fewer, at every write of a transparent 8-bit image with several
// sub-blocks: the header group (6 writes) and the descriptor group (5) are all attempted before
// their sum is tested; any other short write, the extension's included, ends the call at once.
void gif_writer_short_write_everywhere()
{
    const std::vector<uint8_t> header = make_header(64, 64, 8, 0, true, 9);
    const auto image = make_image(64, 64, 8, fill::random);
    host.image = image;
    CHECK_EQ(run_encode_gif(false, header), 0);
    const std::vector<int32_t> sizes = host.write_sizes;
    CHECK(sizes.size() > 30);
    constexpr size_t descriptor_first = 12; // 6 header, 1 table, 4 extension, 1 separator
    for (size_t k = 0; k < sizes.size(); ++k) {
        reset_host();
        host.image = image;
        host.short_write_at = static_cast<int>(k);
        const std::string at = " at write " + std::to_string(k);
        CHECK_EQ(run_encode_gif(false, header), ORVELN1_ERR_WRITE);
        const size_t made = k < 6                                                 ? 6
                            : (k >= descriptor_first && k < descriptor_first + 5) ? descriptor_first + 5
                                                                                  : k + 1;
        check(host.write_sizes.size() == made, ("writes made" + at).c_str(), __LINE__);
        // Nothing at all after the failing group: no write, no row request.
        check(host.events.back().kind == 'w', ("nothing after the short write" + at).c_str(), __LINE__);
    }
}

void gif_encoder_get_row_failure(bool interlaced)
{
    host.image = make_image(16, 12, 8, fill::random);
    host.failing_get_row = 2;
    host.get_row_failure = -5;
    CHECK_EQ(run_encode_gif(interlaced, make_header(16, 12, 8)), ORVELN1_ERR_WRITE);
    CHECK_EQ(events_of('g').size(), 3u);
    CHECK(host.events.back().kind == 'g');
}

// ---------------------------------------------------------------------------------------------
// GIF decoder through decode_gif.

struct gif_trip {
    int32_t width, height;
    int depth;
    bool interlaced;
    fill kind;
    int min_clears;
};

void gif_round_trip(const gif_trip &t)
{
    const auto image = make_image(t.width, t.height, t.depth, t.kind);
    const int32_t row_bytes = padded_bytes(t.width, t.depth);
    host.image = image;
    CHECK_EQ(run_encode_gif(t.interlaced, make_header(t.width, t.height, t.depth)), 0);
    const std::vector<int32_t> order = t.interlaced ? interlace_order(t.height) : iota(0, t.height);
    CHECK(events_of('g', true) == order);
    CHECK(events_of('g') == std::vector<int32_t>(static_cast<size_t>(t.height), row_bytes));

    const gif_layout g = parse_gif(host.output);
    CHECK(g.ok);
    CHECK_EQ(g.code_size_word, ((t.depth - 1) | (t.interlaced ? 0x40 : 0)) | t.depth << 8);
    CHECK(g.sizes_ok);
    CHECK(g.terminated_ok);
    const std::vector<uint8_t> data = gif_data_bytes(host.output);
    const code_walk w = walk_codes(data, t.depth, false);
    CHECK(w.ended);
    CHECK_EQ(w.bytes_used, data.size());
    CHECK(w.clears >= t.min_clears);

    const std::vector<uint8_t> stream = host.output;
    reset_host();
    host.input.assign(stream.begin() + static_cast<std::ptrdiff_t>(g.data_start), stream.end());
    host.put_row_copy = static_cast<size_t>(row_bytes);
    CHECK_EQ(run_decode_gif(make_header(t.width, t.height, t.depth), g.code_size_word, host_put_row), 0);
    CHECK(events_of('p') == order);
    CHECK(events_of('p', true) == std::vector<int32_t>(static_cast<size_t>(t.height), row_bytes));
    int bad_rows = 0;
    for (size_t i = 0; i < host.rows.size() && i < order.size(); ++i)
        bad_rows += !same_pixels(host.rows[i], image[static_cast<size_t>(order[i])], t.width, t.depth);
    CHECK_EQ(bad_rows, 0);
}

// ---------------------------------------------------------------------------------------------
// TIFF decoder through decode_tif.

struct tif_example {
    std::vector<uint8_t> strip;
    int32_t first_row;
    uint32_t row_bytes, row_count;
    int32_t result;
    std::vector<int32_t> indices;
    std::vector<std::vector<uint8_t>> rows;
};

void tif_decoder_example(const tif_example &t, int32_t spare)
{
    host.input = t.strip;
    CHECK_EQ(run_decode_tif(t.first_row, t.row_bytes, t.row_count, spare), t.result);
    CHECK(events_of('p') == t.indices);
    CHECK(events_of('p', true) == std::vector<int32_t>(t.indices.size(), 0));
    CHECK(host.rows == t.rows);
    CHECK(!host.read_offsets.empty() && host.read_offsets[0] == 0 && events_of('r')[0] == 30000);
}

const tif_example one_run_strip{bytes({0x80, 0x10, 0x60, 0x50, 0x10}), 0, 3, 1, 1, {0}, {bytes({0x41, 0x41, 0x41})}};
const tif_example three_codes_strip{bytes({0x80, 0x10, 0x48, 0x44, 0x38, 0x08}),  0, 1, 0, 1, {0, 1, 2},
                                    {bytes({0x41}), bytes({0x42}), bytes({0x43})}};

void tif_decoder_registry_replaced_and_state_fresh()
{
    // A failed call first: the next one must give its own result.
    host.input = bytes({0x80, 0x80});
    CHECK_EQ(run_decode_tif(0, 3, 1), ORVELN1_ERR_BAD_DATA);
    reset_host();
    // Registering again replaces the row slot that decode_tif uses.
    auto set = export_named<set_callbacks_fn>("set_callbacks");
    CHECK_EQ(call_export(set, host_read, host_write, 1, host_put_row), 0);
    CHECK_EQ(call_export(set, host_read, host_write, 2, host_put_row_other), 0);
    host.input = one_run_strip.strip;
    std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES), row_buffer(3 + ORVELN1_TIF_ROW_SLACK_BYTES);
    host.put_row_copy = 3;
    CHECK_EQ(call_export(export_named<decode_tif_fn>("decode_tif"), io_handle, read_buffer.data(), 0, 3u,
                         row_buffer.data(), 1u, row_context),
             1);
    CHECK(host.put_row_tags == std::vector<char>{'b'});
    CHECK(host.rows == one_run_strip.rows);
}

// ---------------------------------------------------------------------------------------------
// TIFF encoder through encode_tif, and TIFF round trips.

// Encodes, checks the pieces and the code stream, decodes with decode_tif and returns the rows.
std::vector<std::vector<uint8_t>> tif_trip(const std::vector<uint8_t> &header, int32_t width, int depth,
                                           int32_t row_offset, int32_t rows, int32_t first_row, int min_clears)
{
    const int32_t padded = padded_bytes(width, depth);
    const int32_t coded = meaningful_bytes(width, depth);
    CHECK_EQ(run_encode_tif(header, row_offset, rows, first_row, 0x4000 + rows), 0);
    CHECK(events_of('g', true) == iota(first_row, rows));
    CHECK(events_of('g') == std::vector<int32_t>(static_cast<size_t>(rows), padded));
    // Pieces of 1000 or 1001 bytes, then the rest.
    for (size_t i = 0; i + 1 < host.write_sizes.size(); ++i)
        check(host.write_sizes[i] == 1000 || host.write_sizes[i] == 1001, "1000-byte pieces", __LINE__);
    CHECK(!host.write_sizes.empty() && host.write_sizes.back() > 0 && host.write_sizes.back() <= 1003);
    const code_walk w = walk_codes(host.output, 8, true);
    CHECK(w.ended);
    CHECK_EQ(w.bytes_used, host.output.size());
    CHECK(w.clears >= min_clears);

    const std::vector<uint8_t> strip = host.output;
    reset_host();
    host.input = strip;
    CHECK_EQ(run_decode_tif(first_row, static_cast<uint32_t>(coded), static_cast<uint32_t>(rows)), 1);
    CHECK(events_of('p') == iota(first_row, rows));
    // Every refill fills the rest of a 30000-byte chunk after the bytes it carried over.
    for (size_t i = 0; i < host.read_offsets.size(); ++i)
        check(host.read_offsets[i] >= 0 && host.read_offsets[i] <= 2 &&
                  host.read_offsets[i] + events_of('r')[i] == 30000,
              "refill pattern", __LINE__);
    return host.rows;
}

struct tif_trip_case {
    int32_t width, height;
    int depth;
    uint32_t compression;
    fill kind;
    int32_t first_row;
    int min_clears;
};

void tif_round_trip(const tif_trip_case &t)
{
    const auto image = make_image(t.width, t.height + t.first_row, t.depth, t.kind);
    host.image = image;
    const auto rows = tif_trip(make_header(t.width, t.height, t.depth, t.compression), t.width, t.depth, 0, t.height,
                               t.first_row, t.min_clears);
    const size_t coded = static_cast<size_t>(meaningful_bytes(t.width, t.depth));
    CHECK_EQ(rows.size(), static_cast<size_t>(t.height));
    int bad_rows = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<uint8_t> expected = image[i + static_cast<size_t>(t.first_row)];
        const size_t group = t.depth == 24 ? 3 : (t.depth == 32 && t.compression == 200) ? 4 : 0;
        for (size_t g = 0; group != 0 && g + 2 < expected.size(); g += group)
            std::swap(expected[g], expected[g + 2]);
        expected.resize(coded);
        bad_rows += rows[i] != expected;
    }
    CHECK_EQ(bad_rows, 0);
}

// ---------------------------------------------------------------------------------------------
// Missing callbacks: each codec refuses before it calls anything.

void codecs_refuse_missing_callbacks()
{
    auto set = export_named<set_callbacks_fn>("set_callbacks");
    const std::vector<uint8_t> header = make_header(4, 2, 8);
    std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES), row_buffer(4 + ORVELN1_TIF_ROW_SLACK_BYTES);
    const void *h = header.data();
    const orveln1_get_row_fn no_get_row = nullptr;
    const orveln1_put_row_fn no_put_row = nullptr;
    CHECK_EQ(
        call_export(set, static_cast<orveln1_read_fn>(nullptr), static_cast<orveln1_write_fn>(nullptr), 0, no_put_row),
        0);
    if (have("decode_tif"))
        CHECK_EQ(call_export(export_named<decode_tif_fn>("decode_tif"), io_handle, read_buffer.data(), 0, 4u,
                             row_buffer.data(), 1u, row_context),
                 ORVELN1_ERR_NO_CALLBACK);
    if (have("decode_gif"))
        CHECK_EQ(call_export(export_named<decode_gif_fn>("decode_gif"), io_handle, read_buffer.data(), h, host_put_row,
                             row_context, 0x0800),
                 ORVELN1_ERR_NO_CALLBACK);
    for (const char *name : {"encode_gif", "encode_gifi"})
        if (have(name))
            CHECK_EQ(call_export(export_named<encode_gif_fn>(name), io_handle, h, host_get_row, row_context),
                     ORVELN1_ERR_NO_CALLBACK);
    if (have("encode_tif"))
        CHECK_EQ(
            call_export(export_named<encode_tif_fn>("encode_tif"), h, io_handle, 0, 0, 2, host_get_row, row_context, 0),
            ORVELN1_ERR_NO_CALLBACK);
    // Registered I/O but a null row callback argument.
    register_host();
    if (have("decode_gif"))
        CHECK_EQ(call_export(export_named<decode_gif_fn>("decode_gif"), io_handle, read_buffer.data(), h, no_put_row,
                             row_context, 0x0800),
                 ORVELN1_ERR_NO_CALLBACK);
    for (const char *name : {"encode_gif", "encode_gifi"})
        if (have(name))
            CHECK_EQ(call_export(export_named<encode_gif_fn>(name), io_handle, h, no_get_row, row_context),
                     ORVELN1_ERR_NO_CALLBACK);
    if (have("encode_tif"))
        CHECK_EQ(
            call_export(export_named<encode_tif_fn>("encode_tif"), h, io_handle, 0, 0, 2, no_get_row, row_context, 0),
            ORVELN1_ERR_NO_CALLBACK);
    CHECK(host.events.empty());
}

// ---------------------------------------------------------------------------------------------

// Calls through the thunk with the stack pointer 4, 8 or 12 bytes past a 16-byte boundary, as
// a 32-bit Windows caller may leave it (only 4-byte alignment is promised there): every export
// must still give the right results. The thunk's own entry check shows the skew is real.
#if defined(__i386__)
void exports_with_stack_skew(int32_t skew)
{
    int32_t stack_change = 0;
    const uint32_t esp = static_cast<uint32_t>(
        host_call_words(reinterpret_cast<const void *>(host_stack_at_call), nullptr, 0, &stack_change, skew));
    CHECK_EQ(esp % 16, static_cast<uint32_t>((16 - skew) % 16));
    call_skew = skew;
    gif_round_trip({300, 100, 8, false, fill::random, 6});
    gif_round_trip({257, 51, 4, true, fill::random, 2});
    tif_round_trip({600, 100, 8, 0, fill::random, 0, 10});
    tif_round_trip({23, 13, 32, 200, fill::random, 0, 1});
    tif_decoder_example(one_run_strip, 0x7FFFFFFF);
    call_skew = 0;
}
#endif

// The codecs' own cases (worked examples, round trips over every depth, refused rows, short
// writes of the TIFF encoder, the decoders' damaged data) run in the GoogleTest suite built for
// Windows and run under Wine (scripts/cross-test.sh); here stays what only a caller of the module
// sees, and the GIF writer, whose tests need giflib and so stay on the build machine.
void run_all_cases()
{
    run_case("exports resolve by name and ordinal", {}, exports_resolve_by_name_and_ordinal);
#if defined(__i386__)
    run_case("stack thunk sees caller-clean calls", {}, stack_thunk_sees_caller_clean_calls);
    for (int32_t skew : {4, 8, 12})
        run_case("exports called with the stack " + std::to_string(16 - skew) + " mod 16",
                 {"set_callbacks", "decode_gif", "encode_gif", "encode_gifi", "decode_tif", "encode_tif"},
                 [skew] { exports_with_stack_skew(skew); });
#endif
    run_case("set_callbacks returns 0 for anything", {"set_callbacks"}, set_callbacks_returns_zero_for_anything);
    run_case("codecs refuse missing callbacks", {"set_callbacks"}, codecs_refuse_missing_callbacks);

    for (bool il : {false, true}) {
        const char *e = il ? "encode_gifi" : "encode_gif";
        const std::string tag = std::string(" (") + e + ")";
        run_case("gif writer: 2x1 8-bit stream bytes" + tag, {"set_callbacks", e},
                 [il] { gif_writer_two_pixel_image(il); });
        run_case("gif writer: 4-bit transparent stream bytes" + tag, {"set_callbacks", e},
                 [il] { gif_writer_transparent_four_bit(il, il ? 200 : 5); });
        for (int depth : {1, 24})
            run_case("gif writer: refuses depth " + std::to_string(depth) + tag, {"set_callbacks", e},
                     [il, depth] { gif_writer_refuses_depth(il, depth); });
        run_case("gif encoder: failing row callback gives ERR_WRITE" + tag, {"set_callbacks", e},
                 [il] { gif_encoder_get_row_failure(il); });
    }
    run_case("gif writer: a short write at every write", {"set_callbacks", "encode_gif", "encode_gifi"},
             gif_writer_short_write_everywhere);

    // Through the module on every width: one round trip per encoder, the spare registry word.
    run_case("gif round trip 64x64 depth 8", {"set_callbacks", "decode_gif", "encode_gif"}, [] {
        gif_round_trip({64, 64, 8, false, fill::random, 1});
    });
    run_case("gif round trip 640x48 depth 8 interlaced", {"set_callbacks", "decode_gif", "encode_gifi"}, [] {
        gif_round_trip({640, 48, 8, true, fill::gradient, 1});
    });
    run_case("tif round trip 2000x50 depth 24 from row 3", {"set_callbacks", "encode_tif", "decode_tif"}, [] {
        tif_round_trip({2000, 50, 24, 0, fill::runs, 3, 1});
    });
    run_case("tif decoder: spare registry word changes nothing", {"set_callbacks", "decode_tif"},
             [] { tif_decoder_example(one_run_strip, 0x7FFFFFFF); });
    run_case("tif decoder: registry replaced, no state kept", {"set_callbacks", "decode_tif"},
             tif_decoder_registry_replaced_and_state_fresh);
}

} // namespace

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "orveln1.dll";
    module_handle = LoadLibraryA(path);
    if (module_handle == nullptr) {
        std::printf("cannot load %s (error %lu)\n0 passed, 1 failed\n", path, GetLastError());
        return 1;
    }
    for (export_entry &e : exports_table)
        e.address = GetProcAddress(module_handle, e.name);

    run_all_cases();

    const bool unloaded = FreeLibrary(module_handle) != 0;
    if (!unloaded) {
        std::printf("  FAIL FreeLibrary\n");
        ++failed;
    }
    std::printf("%d passed, %d failed", passed, failed);
    if (skipped > 0) {
        std::printf(", %d skipped (missing:", skipped);
        for (const std::string &name : missing_exports)
            std::printf(" %s", name.c_str());
        std::printf(")");
    }
    std::printf("\n");
    return failed == 0 ? 0 : 1;
}
