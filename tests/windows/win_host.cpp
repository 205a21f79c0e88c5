// SPDX-License-Identifier: MIT
// Windows test host: loads orveln1.dll the way an imaging host does and checks what only a caller
// of the module sees: lookup by name and ordinal, callee-clean calls, a 4-byte-aligned stack.
// The codecs' own cases run in the GoogleTest suite cross-built for Windows (scripts/cross-test.sh).
#include <windows.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "orveln1.h"
#include "support/image_kit.hpp"

namespace
{

HMODULE module = nullptr;
// The exports in ordinal order from 2.
const char *const export_names[] = {"set_callbacks", "decode_gif",  "decode_tif",
                                    "encode_gif",    "encode_gifi", "encode_tif"};

// On 32-bit Windows every call goes through a thunk that pushes the argument words itself and
// measures the stack pointer after the return: a callee-clean export leaves it where it was before
// the arguments were pushed, a caller-clean one 4 bytes per argument lower.
#if defined(__i386__)
// skew: bytes (0, 4, 8 or 12) the stack pointer lies below a 16-byte boundary at the call.
extern "C" int32_t __cdecl host_call_words(const void *fn, const uint32_t *words, int32_t count, int32_t *stack_change,
                                           int32_t skew);
// The stack pointer at the thunk's last call instruction.
extern "C" {
uint32_t host_esp_at_call = 0;
}
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
2:  movl  %esp, _host_esp_at_call
    call  *8(%ebp)
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
)");
#endif

int passed = 0, failed = 0, case_failures = 0;
std::string case_name;

void check(bool ok, const char *what, int line)
{
    if (ok)
        return;
    ++case_failures;
    std::printf("  FAIL %s (line %d): %s\n", case_name.c_str(), line, what);
}
#define CHECK(...) check((__VA_ARGS__), #__VA_ARGS__, __LINE__)

// How far below a 16-byte boundary the thunk leaves the stack pointer at each export call.
[[maybe_unused]] int32_t call_skew = 0;

template <class Fn, class... Args> int32_t call_export(Fn fn, Args... args)
{
#if defined(__i386__)
    const uint32_t words[] = {std::bit_cast<uint32_t>(args)..., 0}; // every argument one 32-bit word
    int32_t stack_change = 0;
    const int32_t result =
        host_call_words(reinterpret_cast<const void *>(fn), words, sizeof...(Args), &stack_change, call_skew);
    check(stack_change == 0, "export is callee-clean (stack pointer unchanged after the call)", __LINE__);
    check(host_esp_at_call % 16 == static_cast<uint32_t>((16 - call_skew) % 16), "stack skewed at the call", __LINE__);
    return result;
#else
    return fn(args...);
#endif
}
// Calls the export of that name, resolved from the module by name.
#define CALL_EXPORT(name, ...)                                                                                         \
    call_export(reinterpret_cast<decltype(&name)>(reinterpret_cast<void (*)()>(GetProcAddress(module, #name))),        \
                __VA_ARGS__)

// The host side of the callbacks, recording what they were called with; handles and contexts
// that do not come back unchanged are counted.
constexpr int32_t io_handle = 0x5EED1234, row_context = 0x0BADCAFE;
using pairs = std::vector<std::pair<int32_t, int32_t>>;

struct host_state {
    std::vector<uint8_t> input, output, row; // row: what get_row serves, then the first bytes put
    size_t input_pos = 0;
    pairs got, put; // (row index, count) of get_row; (row index, fourth argument) of put_row
    int bad_handles = 0;
} host;

int32_t ORVELN1_CDECL host_read(int32_t handle, uint8_t *buffer, int32_t count)
{
    host.bad_handles += handle != io_handle;
    const size_t n = std::min(static_cast<size_t>(count), host.input.size() - host.input_pos);
    std::copy_n(host.input.begin() + static_cast<std::ptrdiff_t>(host.input_pos), n, buffer);
    host.input_pos += n;
    return static_cast<int32_t>(n);
}

int32_t ORVELN1_CDECL host_write(int32_t handle, const uint8_t *buffer, int32_t count)
{
    host.bad_handles += handle != io_handle;
    host.output.insert(host.output.end(), buffer, buffer + count);
    return count;
}

int32_t ORVELN1_CDECL host_get_row(int32_t context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    host.bad_handles += context != row_context;
    host.got.emplace_back(row_index, count);
    std::memcpy(buffer, host.row.data(), std::min(static_cast<size_t>(count), host.row.size()));
    return 0;
}

int32_t ORVELN1_CDECL host_put_row(const uint8_t *row, int32_t context, int32_t row_index, int32_t row_bytes)
{
    host.bad_handles += context != row_context;
    host.put.emplace_back(row_index, row_bytes);
    host.row.assign(row, row + host.row.size());
    return 0;
}

// A fresh host with the given row (served or the length to keep), registered through the export
// with a spare word that must change nothing.
void reset_host(std::vector<uint8_t> row, std::vector<uint8_t> input = {})
{
    CHECK(host.bad_handles == 0);
    host = host_state{};
    host.input = std::move(input);
    host.row = std::move(row);
    CHECK(CALL_EXPORT(set_callbacks, host_read, host_write, 0x7FFFFFFF, host_put_row) == 0);
}

// A 3x1 8-bit image of 'A's is this TIFF strip: clear, 'A', code 258 ("AA"), end, 9 bits each.
const std::vector<uint8_t> three_a_strip{0x80, 0x10, 0x60, 0x50, 0x10};
// A 2x1 8-bit image of indices 0 and 1 is this GIF image data (minimum code size 8).
const std::vector<uint8_t> two_pixel_data{0x05, 0x00, 0x01, 0x04, 0x08, 0x08, 0x00};

// One call of every export with inputs whose outcome is known to the byte: the arguments and
// results cross the boundary intact at the current stack alignment.
void every_export_once()
{
    const std::vector<uint8_t> header2 = orveln1::test::image_header(2, 1, 8);
    for (const bool interlaced : {false, true}) {
        reset_host({0, 1, 0xAA, 0xBB});
        CHECK((interlaced ? CALL_EXPORT(encode_gifi, io_handle, header2.data(), host_get_row, row_context)
                          : CALL_EXPORT(encode_gif, io_handle, header2.data(), host_get_row, row_context)) == 0);
        std::vector<uint8_t> expected = orveln1::test::test_image::colour_table(8);
        expected.insert(expected.begin(), {'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x87, 0, 0});
        expected.insert(expected.end(),
                        {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, static_cast<uint8_t>(interlaced ? 0x47 : 0x07), 8});
        expected.insert(expected.end(), two_pixel_data.begin(), two_pixel_data.end());
        expected.push_back(0x3B);
        CHECK(host.output == expected);
        CHECK(host.got == (pairs{{0, 4}}));
    }

    reset_host(std::vector<uint8_t>(4), two_pixel_data);
    std::vector<uint8_t> read_buffer(std::max(ORVELN1_GIF_READ_BUFFER_BYTES, ORVELN1_TIF_READ_BUFFER_BYTES));
    CHECK(CALL_EXPORT(decode_gif, io_handle, read_buffer.data(), header2.data(), host_put_row, row_context, 0x0800) ==
          0);
    CHECK(host.put == (pairs{{0, 4}}) && host.row == std::vector<uint8_t>{0, 1, 0, 0});

    reset_host(std::vector<uint8_t>(3), three_a_strip);
    std::vector<uint8_t> row_buffer(3 + ORVELN1_TIF_ROW_SLACK_BYTES);
    CHECK(CALL_EXPORT(decode_tif, io_handle, read_buffer.data(), 5, 3u, row_buffer.data(), 1u, row_context) == 1);
    CHECK(host.put == (pairs{{5, 0}}) && host.row == std::vector<uint8_t>{0x41, 0x41, 0x41});

    reset_host({0x41, 0x41, 0x41, 0});
    const std::vector<uint8_t> header3 = orveln1::test::image_header(3, 1, 8);
    CHECK(CALL_EXPORT(encode_tif, header3.data(), io_handle, 0, 0, 1, host_get_row, row_context, 0) == 0);
    CHECK(host.output == three_a_strip && host.got.size() == 1 && host.got[0].first == 0);
}

template <class Body> void run_case(const std::string &name, Body body)
{
    case_name = name;
    case_failures = 0;
    body();
    CHECK(host.bad_handles == 0);
    ++(case_failures == 0 ? passed : failed);
}

} // namespace

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "orveln1.dll";
    module = LoadLibraryA(path);
    if (module == nullptr) {
        std::printf("cannot load %s (error %lu)\n0 passed, 1 failed\n", path, GetLastError());
        return 1;
    }
    // That nothing else is exported, decorated names included, scripts/check-dll-tables.sh shows.
    run_case("exports resolve by name and ordinal", [] {
        for (WORD i = 0; i < 6; ++i)
            CHECK(GetProcAddress(module, export_names[i]) != nullptr &&
                  GetProcAddress(module, MAKEINTRESOURCEA(i + 2)) == GetProcAddress(module, export_names[i]));
    });
    if (failed == 0) { // else the calls would go through a null address
#if defined(__i386__)
        // The thunk's measurement means something: a caller-clean function leaves its words.
        run_case("stack thunk sees caller-clean calls", [] {
            const uint32_t words[] = {static_cast<uint32_t>(io_handle), 0, 0};
            int32_t stack_change = 0;
            host_call_words(reinterpret_cast<const void *>(host_read), words, 3, &stack_change, 0);
            CHECK(stack_change == -12);
        });
        // A 32-bit Windows caller promises only 4-byte alignment: every export at each skew.
        for (int32_t skew : {0, 4, 8, 12})
            run_case("every export with the stack " + std::to_string((16 - skew) % 16) + " mod 16", [skew] {
                call_skew = skew;
                every_export_once();
            });
#else
        run_case("every export once", every_export_once);
#endif
    }
    if (FreeLibrary(module) == 0) {
        std::printf("  FAIL FreeLibrary\n");
        ++failed;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
