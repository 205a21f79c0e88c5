// SPDX-License-Identifier: MIT
// Windows test host: loads orveln1.dll the way an imaging host does and checks what only a caller
// of the module sees: lookup by name and ordinal, callee-clean calls, a 4-byte-aligned stack.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "orveln1.h"
#include "support/image_kit.hpp"

using namespace orveln1;

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
int case_failures = 0;
std::string case_name;

void check(bool ok, const char *what, int line)
{
    if (ok)
        return;
    ++case_failures;
    std::printf("  FAIL %s (line %d): %s\n", case_name.c_str(), line, what);
}
#define CHECK(...) check((__VA_ARGS__), #__VA_ARGS__, __LINE__)
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
// row sink, each recording the counts and row indices it was called with.

constexpr int32_t io_handle = 0x5EED1234;
constexpr int32_t row_context = 0x0BADCAFE;

using pairs = std::vector<std::pair<int32_t, int32_t>>;
using byte_rows = std::vector<std::vector<uint8_t>>;

struct host_state {
    std::vector<uint8_t> input, output;
    size_t input_pos = 0;
    byte_rows image, rows; // rows given by get_row, and the first bytes of rows put
    size_t put_row_copy = 0;
    std::vector<int32_t> reads, writes; // the counts asked
    pairs got, put;                     // (row index, count) of get_row; (row index, fourth argument) of put_row
    int bad_handles = 0;                // handles or contexts that did not come back unchanged
};

host_state host;

int32_t ORVELN1_CDECL host_read(int32_t handle, uint8_t *buffer, int32_t count)
{
    host.bad_handles += handle != io_handle;
    host.reads.push_back(count);
    const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), host.input.size() - host.input_pos);
    if (n > 0)
        std::memcpy(buffer, host.input.data() + host.input_pos, n);
    host.input_pos += n;
    return static_cast<int32_t>(n);
}

int32_t ORVELN1_CDECL host_write(int32_t handle, const uint8_t *buffer, int32_t count)
{
    host.bad_handles += handle != io_handle;
    host.writes.push_back(count);
    host.output.insert(host.output.end(), buffer, buffer + count);
    return count;
}

int32_t ORVELN1_CDECL host_get_row(int32_t context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    host.bad_handles += context != row_context;
    host.got.emplace_back(row_index, count);
    if (static_cast<size_t>(row_index) < host.image.size()) // a negative index wraps far beyond the image
        std::memcpy(buffer, host.image[static_cast<size_t>(row_index)].data(),
                    std::min(static_cast<size_t>(count), host.image[static_cast<size_t>(row_index)].size()));
    return 0;
}

int32_t ORVELN1_CDECL host_put_row(const uint8_t *row, int32_t context, int32_t row_index, int32_t row_bytes)
{
    host.bad_handles += context != row_context;
    host.put.emplace_back(row_index, row_bytes);
    host.rows.emplace_back(row, row + host.put_row_copy);
    return 0;
}

// Registers the host's callbacks through the export, with the given spare word.
void register_host(int32_t spare = 0)
{
    CHECK_EQ(call_export(export_named<set_callbacks_fn>("set_callbacks"), host_read, host_write, spare, host_put_row),
             0);
}

template <class Body> void run_case(const std::string &name, Body body)
{
    case_name = name;
    case_failures = 0;
    host = host_state{};
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
    for (export_entry &e : exports_table)
        CHECK(e.address != nullptr && GetProcAddress(module_handle, MAKEINTRESOURCEA(e.ordinal)) == e.address);
    // That nothing else is exported, decorated names included, scripts/check-dll-tables.sh shows
    // from the module's tables before this host runs.
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

// ---------------------------------------------------------------------------------------------
// One call of every export with inputs whose outcome is known to the byte: enough to show that
// arguments and results cross the boundary intact at any stack alignment.

void gif_writer_two_pixel_image(bool interlaced)
{
    const std::vector<uint8_t> header = test::image_header(2, 1, 8);
    host.image = {{0, 1, 0xAA, 0xBB}};
    register_host();
    CHECK_EQ(call_export(export_named<encode_gif_fn>(interlaced ? "encode_gifi" : "encode_gif"), io_handle,
                         static_cast<const void *>(header.data()), host_get_row, row_context),
             0);

    std::vector<uint8_t> expected{'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x87, 0, 0};
    const std::vector<uint8_t> table = test::test_image::colour_table(8);
    expected.insert(expected.end(), table.begin(), table.end());
    expected.insert(expected.end(), {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, static_cast<uint8_t>(interlaced ? 0x47 : 0x07), 8,
                                     0x05, 0x00, 0x01, 0x04, 0x08, 0x08, 0x00, 0x3B});
    CHECK(host.output == expected);
    CHECK(host.writes == (std::vector<int32_t>{6, 2, 2, 1, 1, 1, 768, 1, 2, 2, 2, 2, 2, 1, 5, 1, 1}));
    CHECK(host.got == (pairs{{0, 4}}));
}

// A 3x1 8-bit image of 'A's is this TIFF strip: clear, 'A', code 258 ("AA"), end, 9 bits each.
const std::vector<uint8_t> three_a_strip{0x80, 0x10, 0x60, 0x50, 0x10};
// A 2x1 8-bit image of indices 0 and 1 is this GIF image data (minimum code size 8).
const std::vector<uint8_t> two_pixel_data{0x05, 0x00, 0x01, 0x04, 0x08, 0x08, 0x00};

void decode_gif_smoke()
{
    host.input = two_pixel_data;
    host.put_row_copy = 4;
    register_host();
    const std::vector<uint8_t> header = test::image_header(2, 1, 8);
    std::vector<uint8_t> read_buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    CHECK_EQ(call_export(export_named<decode_gif_fn>("decode_gif"), io_handle, read_buffer.data(),
                         static_cast<const void *>(header.data()), host_put_row, row_context, 0x0800),
             0);
    CHECK(host.put == (pairs{{0, 4}}));
    CHECK(host.rows == byte_rows{{0, 1, 0, 0}});
}

// The registry's spare word is stored and changes nothing.
void decode_tif_smoke()
{
    host.input = three_a_strip;
    host.put_row_copy = 3;
    register_host(0x7FFFFFFF);
    std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES), row_buffer(3 + ORVELN1_TIF_ROW_SLACK_BYTES);
    CHECK_EQ(call_export(export_named<decode_tif_fn>("decode_tif"), io_handle, read_buffer.data(), 5, 3u,
                         row_buffer.data(), 1u, row_context),
             1);
    CHECK(host.put == (pairs{{5, 0}}));
    CHECK(host.rows == byte_rows{{0x41, 0x41, 0x41}});
    CHECK(!host.reads.empty() && host.reads[0] == 30000);
}

void encode_tif_smoke()
{
    host.image = {{0x41, 0x41, 0x41, 0}};
    register_host();
    const std::vector<uint8_t> header = test::image_header(3, 1, 8);
    CHECK_EQ(call_export(export_named<encode_tif_fn>("encode_tif"), static_cast<const void *>(header.data()), io_handle,
                         0, 0, 1, host_get_row, row_context, 0),
             0);
    CHECK(host.output == three_a_strip);
    CHECK(host.got.size() == 1 && host.got[0].first == 0);
}

void every_export_once()
{
    for (void (*call)() : {+[] { gif_writer_two_pixel_image(false); }, +[] { gif_writer_two_pixel_image(true); },
                           decode_gif_smoke, decode_tif_smoke, encode_tif_smoke}) {
        host = host_state{};
        call();
    }
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
    every_export_once();
    call_skew = 0;
}
#endif

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

    // The codecs' own cases run in the GoogleTest suite cross-built for Windows (scripts/cross-test.sh);
    // here stays what only a caller of the module sees, and one known call of every export.
    run_case("exports resolve by name and ordinal", exports_resolve_by_name_and_ordinal);
    if (failed == 0) { // else the calls would go through a null address
        run_case("every export once", every_export_once);
#if defined(__i386__)
        run_case("stack thunk sees caller-clean calls", stack_thunk_sees_caller_clean_calls);
        for (int32_t skew : {4, 8, 12})
            run_case("exports called with the stack " + std::to_string(16 - skew) + " mod 16",
                     [skew] { exports_with_stack_skew(skew); });
#endif
    }

    if (FreeLibrary(module_handle) == 0) {
        std::printf("  FAIL FreeLibrary\n");
        ++failed;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
