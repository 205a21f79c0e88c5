// SPDX-License-Identifier: MIT
// orveln1_module_bench: times the shipped module as a plug-in host sees it. It loads the module at
// run time (LoadLibrary and GetProcAddress on Windows, dlopen and dlsym elsewhere), calls nothing
// but its six exports, and runs the same workload and timing loop whether the module is the 32-bit
// or the 64-bit orveln1.dll under Wine or liborveln1.so, so that their speeds can be set side by
// side (scripts/module-bench.sh). Every output is checked before it is timed: each stream written
// is decoded back and compared with the image, each decoded image with the source, and the timed
// calls' outputs once more afterwards.
//   orveln1_module_bench MODULE [--side N] [--rounds N] [--min-time SECONDS] [--check]
// prints one line per operation and image, "operation image MB/s" (1 MB = 1e6 pixels), after a
// line starting with '#' that names the module; --check stops after the checks.
#include "orveln1.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_images.hpp"

namespace
{

using orveln1_bench::bench_image;

// The exports, as the module's own header declares them (calling conventions included).
struct module_exports {
    decltype(&set_callbacks) set_callbacks_fn = nullptr;
    decltype(&decode_gif) decode_gif_fn = nullptr;
    decltype(&decode_tif) decode_tif_fn = nullptr;
    decltype(&encode_gif) encode_gif_fn = nullptr;
    decltype(&encode_gifi) encode_gifi_fn = nullptr;
    decltype(&encode_tif) encode_tif_fn = nullptr;
};

template <class F> bool resolve(void *address, F &fn)
{
    std::memcpy(&fn, &address, sizeof fn);
    return address != nullptr;
}

bool load_module(const char *path, module_exports &m)
{
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        std::printf("module_bench: cannot load %s (error %lu)\n", path, GetLastError());
        return false;
    }
    const auto symbol = [module](const char *name) {
        void *address = nullptr;
        FARPROC p = GetProcAddress(module, name);
        std::memcpy(&address, &p, sizeof address);
        return address;
    };
#else
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::printf("module_bench: cannot load %s: %s\n", path, dlerror());
        return false;
    }
    const auto symbol = [module](const char *name) { return dlsym(module, name); };
#endif
    const bool all = resolve(symbol("set_callbacks"), m.set_callbacks_fn) &&
                     resolve(symbol("decode_gif"), m.decode_gif_fn) && resolve(symbol("decode_tif"), m.decode_tif_fn) &&
                     resolve(symbol("encode_gif"), m.encode_gif_fn) &&
                     resolve(symbol("encode_gifi"), m.encode_gifi_fn) && resolve(symbol("encode_tif"), m.encode_tif_fn);
    if (!all)
        std::printf("module_bench: %s lacks one of the six exports\n", path);
    return all;
}

double seconds_now()
{
#ifdef _WIN32
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

// What the host's callbacks work on: the registry is process-wide, and so is this.
struct host_state {
    const bench_image *image = nullptr; // the rows get_row_fn hands out
    const uint8_t *input = nullptr;     // the compressed bytes read_fn hands out
    std::size_t input_size = 0, input_at = 0;
    std::vector<uint8_t> output; // what write_fn took
    std::vector<uint8_t> rows;   // what put_row_fn received, row after row at their indices
    int rows_received = 0;
} host;

int32_t ORVELN1_CDECL read_bytes(int32_t, uint8_t *buffer, int32_t count)
{
    const std::size_t n = std::min(host.input_size - host.input_at, static_cast<std::size_t>(count));
    std::memcpy(buffer, host.input + host.input_at, n);
    host.input_at += n;
    return static_cast<int32_t>(n);
}

int32_t ORVELN1_CDECL write_bytes(int32_t, const uint8_t *buffer, int32_t count)
{
    host.output.insert(host.output.end(), buffer, buffer + count);
    return count;
}

int32_t ORVELN1_CDECL get_row(int32_t, uint8_t *buffer, int32_t index, int32_t count)
{
    const bench_image &image = *host.image;
    if (index < 0 || index >= image.height || count != image.padded_row_bytes)
        return -100;
    std::memcpy(buffer, image.padded.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(count),
                static_cast<std::size_t>(count));
    return 0;
}

// GIF rows arrive padded, TIFF rows as the strip holds them.
int32_t ORVELN1_CDECL put_gif_row(const uint8_t *row, int32_t, int32_t index, int32_t row_bytes)
{
    const bench_image &image = *host.image;
    if (index < 0 || index >= image.height || row_bytes != image.padded_row_bytes)
        return -100;
    std::memcpy(host.rows.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(row_bytes), row,
                static_cast<std::size_t>(row_bytes));
    ++host.rows_received;
    return 0;
}

int32_t ORVELN1_CDECL put_tif_row(const uint8_t *row, int32_t, int32_t index, int32_t)
{
    const bench_image &image = *host.image;
    if (index < 0 || index >= image.height)
        return -100;
    const auto n = static_cast<std::size_t>(image.unpadded_row_bytes);
    std::memcpy(host.rows.data() + static_cast<std::size_t>(index) * n, row, n);
    ++host.rows_received;
    return 0;
}

// Where the image data of the stream encode_gif wrote begins: past the screen descriptor, its colour
// table, any extension and the image descriptor with its local table, at the first data sub-block.
// Returns 0 when the stream has no image there; packed and code size are the decoder's word.
std::size_t gif_image_data(const std::vector<uint8_t> &s, int32_t &code_size_word)
{
    const auto table_bytes = [](uint8_t packed) { return (packed & 0x80) ? std::size_t{3} << ((packed & 7) + 1) : 0; };
    if (s.size() < 13 || std::memcmp(s.data(), "GIF8", 4) != 0)
        return 0;
    std::size_t at = 13 + table_bytes(s[10]);
    while (at < s.size() && s[at] == 0x21) { // an extension: label, then sub-blocks
        at += 2;
        while (at < s.size() && s[at] != 0)
            at += s[at] + std::size_t{1};
        ++at;
    }
    if (at + 11 > s.size() || s[at] != 0x2C)
        return 0;
    const uint8_t packed = s[at + 9];
    at += 10 + table_bytes(packed);
    if (at + 1 > s.size())
        return 0;
    code_size_word = static_cast<int32_t>(packed | (s[at] << 8));
    return at + 1;
}

constexpr int32_t io_handle = 7, row_context = 11;

struct image_case {
    const bench_image *image;
    std::vector<uint8_t> header;
    std::vector<uint8_t> gif, tif; // the checked streams
};

std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES);
std::vector<uint8_t> tif_row_buffer;

int32_t run_encode_gif(const module_exports &m, const image_case &c)
{
    host.image = c.image;
    host.output.clear();
    return m.encode_gif_fn(io_handle, c.header.data(), get_row, row_context);
}

int32_t run_encode_tif(const module_exports &m, const image_case &c)
{
    host.image = c.image;
    host.output.clear();
    return m.encode_tif_fn(c.header.data(), io_handle, 0, 0, c.image->height, get_row, row_context, 0);
}

int32_t run_decode_gif(const module_exports &m, const image_case &c)
{
    int32_t code_size_word = 0;
    const std::size_t at = gif_image_data(c.gif, code_size_word);
    if (at == 0)
        return -101;
    host.image = c.image;
    host.input = c.gif.data() + at;
    host.input_size = c.gif.size() - at;
    host.input_at = 0;
    host.rows_received = 0;
    return m.decode_gif_fn(io_handle, read_buffer.data(), c.header.data(), put_gif_row, row_context, code_size_word);
}

int32_t run_decode_tif(const module_exports &m, const image_case &c)
{
    host.image = c.image;
    host.input = c.tif.data();
    host.input_size = c.tif.size();
    host.input_at = 0;
    host.rows_received = 0;
    return m.decode_tif_fn(io_handle, read_buffer.data(), 0, static_cast<uint32_t>(c.image->unpadded_row_bytes),
                           tif_row_buffer.data(), static_cast<uint32_t>(c.image->height), row_context);
}

// Whether the last decode delivered every row and they are the image's.
bool decoded_rows_match(const image_case &c, const std::vector<uint8_t> &expected)
{
    return host.rows_received == c.image->height && host.rows == expected;
}

bool fail(const image_case &c, const char *what, int32_t result)
{
    std::printf("module_bench: %s, %s: failed (result %d)\n", c.image->name.c_str(), what, static_cast<int>(result));
    return false;
}

// Encodes, decodes back and compares, both formats; keeps the streams for the timed decodes.
bool check_case(const module_exports &m, image_case &c)
{
    const bench_image &image = *c.image;
    int32_t r = run_encode_tif(m, c);
    if (r != ORVELN1_OK || host.output.empty())
        return fail(c, "encode_tif", r);
    c.tif = host.output;
    host.rows.assign(image.unpadded.size(), 0xA5);
    r = run_decode_tif(m, c);
    if (r != 1 || !decoded_rows_match(c, image.unpadded))
        return fail(c, "decode_tif of the strip encode_tif wrote", r);

    r = run_encode_gif(m, c);
    if (r != ORVELN1_OK || host.output.empty() || host.output.back() != 0x3B)
        return fail(c, "encode_gif", r);
    c.gif = host.output;
    host.rows.assign(image.padded.size(), 0xA5);
    r = run_decode_gif(m, c);
    if (r != ORVELN1_OK || !decoded_rows_match(c, image.padded))
        return fail(c, "decode_gif of the stream encode_gif wrote", r);
    return true;
}

struct options {
    const char *module = nullptr;
    int side = 768;
    int rounds = 7;
    double min_time = 0.1;
    bool check_only = false;
};

// Seconds per call over one batch: the call repeated for at least min_time.
template <class F> double time_batch(const options &o, F call)
{
    const double start = seconds_now();
    double elapsed = 0;
    int calls = 0;
    do {
        call();
        ++calls;
        elapsed = seconds_now() - start;
    } while (elapsed < o.min_time);
    return elapsed / calls;
}

bool parse(int argc, char **argv, options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--side" && has_value)
            o.side = std::atoi(argv[++i]);
        else if (a == "--rounds" && has_value)
            o.rounds = std::atoi(argv[++i]);
        else if (a == "--min-time" && has_value)
            o.min_time = std::atof(argv[++i]);
        else if (a == "--check")
            o.check_only = true;
        else if (a[0] != '-' && o.module == nullptr)
            o.module = argv[i];
        else
            return false;
    }
    return o.module != nullptr && o.side >= 8 && o.side <= 4096 && o.rounds >= 1 && o.min_time >= 0;
}

} // namespace

int main(int argc, char **argv)
{
    options o;
    if (!parse(argc, argv, o)) {
        std::printf("usage: orveln1_module_bench MODULE [--side N] [--rounds N] [--min-time SECONDS] [--check]\n");
        return 2;
    }
    module_exports m;
    if (!load_module(o.module, m))
        return 2;
    m.set_callbacks_fn(read_bytes, write_bytes, 0, put_tif_row);

    const std::vector<bench_image> images = orveln1_bench::synthetic_images(o.side);
    std::vector<image_case> cases;
    for (const bench_image &image : images)
        cases.push_back({&image, orveln1_bench::make_image_header(image), {}, {}});
    for (image_case &c : cases) {
        tif_row_buffer.assign(static_cast<std::size_t>(c.image->unpadded_row_bytes) + ORVELN1_TIF_ROW_SLACK_BYTES, 0);
        host.output.reserve(c.image->pixel_count() * 2 + 4096);
        if (!check_case(m, c))
            return 1;
    }
    std::printf("# module %s: %d-bit host, %zu images of %d x %d, fastest of %d rounds of at least %.2f s\n", o.module,
                static_cast<int>(sizeof(void *) * 8), cases.size(), o.side, o.side, o.rounds, o.min_time);
    if (o.check_only) {
        std::printf("module_bench: %zu images checked: GIF and TIFF encoded, decoded back, equal\n", cases.size());
        return 0;
    }

    // Each round times every operation on every image once, and each figure is the fastest of the
    // rounds: a neighbour's burst of work on this machine then costs one round of many cells, not
    // all the rounds of a few.
    enum { gif_decode, gif_encode, tif_decode, tif_encode, operations };
    std::vector<std::array<double, operations>> best(cases.size());
    for (auto &b : best)
        b.fill(1e30);
    for (int round = 0; round < o.rounds; ++round) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const image_case &c = cases[i];
            const bench_image &image = *c.image;
            tif_row_buffer.assign(static_cast<std::size_t>(image.unpadded_row_bytes) + ORVELN1_TIF_ROW_SLACK_BYTES, 0);
            int32_t last = 0;
            const auto keep = [&best, i](int op, double seconds) { best[i][op] = std::min(best[i][op], seconds); };

            keep(gif_encode, time_batch(o, [&] { last = run_encode_gif(m, c); }));
            if (last != ORVELN1_OK || host.output != c.gif)
                return fail(c, "timed encode_gif (output differs)", last), 1;
            keep(tif_encode, time_batch(o, [&] { last = run_encode_tif(m, c); }));
            if (last != ORVELN1_OK || host.output != c.tif)
                return fail(c, "timed encode_tif (output differs)", last), 1;
            host.rows.assign(image.padded.size(), 0xA5);
            keep(gif_decode, time_batch(o, [&] { last = run_decode_gif(m, c); }));
            if (last != ORVELN1_OK || !decoded_rows_match(c, image.padded))
                return fail(c, "timed decode_gif (rows differ)", last), 1;
            host.rows.assign(image.unpadded.size(), 0xA5);
            keep(tif_decode, time_batch(o, [&] { last = run_decode_tif(m, c); }));
            if (last != 1 || !decoded_rows_match(c, image.unpadded))
                return fail(c, "timed decode_tif (rows differ)", last), 1;
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const double megapixels = static_cast<double>(cases[i].image->pixel_count()) / 1e6;
        const char *name = cases[i].image->name.c_str();
        std::printf("gif_decode %s %.1f\ngif_encode %s %.1f\ntif_decode %s %.1f\ntif_encode %s %.1f\n", name,
                    megapixels / best[i][gif_decode], name, megapixels / best[i][gif_encode], name,
                    megapixels / best[i][tif_decode], name, megapixels / best[i][tif_encode]);
    }
    return 0;
}
