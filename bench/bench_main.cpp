// SPDX-License-Identifier: MIT
// orveln1_bench: GIF and TIFF LZW throughput of orveln1 and its peers side by side in one run, in
// pixel bytes per second, every output checked to decode back exactly before it is timed; plus the
// peak working memory of each orveln1 call at two image heights.
//
// Environment: ORVELN1_BENCH_SMALL=1 runs every benchmark once on 64 x 64 images (the test suite's
// check); ORVELN1_BENCH_DUMP=DIR writes the images and reference GIF streams for the Pillow script;
// ORVELN1_BENCH_MEMORY_OUT=FILE writes the memory figures as JSON; ORVELN1_CORPUS_DIR overrides
// where the real pictures are read; ORVELN1_REQUIRE_CORPUS=1 makes a missing corpus a failure.
// Configured with ORVELN1_BENCH_WUFFS naming a wuffs-v0.4.c, it times Wuffs' GIF decoder too.
#include <benchmark/benchmark.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_codecs.hpp"
#include "bench_images.hpp"
#include "support/memory_instrumented.hpp"
#ifdef ORVELN1_BENCH_HAS_WUFFS
#include "bench_wuffs.h"
#endif

using namespace orveln1_bench;

namespace
{

int verify_failures = 0;

struct strip_case {
    const char *label;
    std::size_t bytes; // 0: the whole image in one strip
};
constexpr strip_case strip_cases[] = {{"8KiB", 8 * 1024}, {"64KiB", 64 * 1024}, {"whole", 0}};

// Everything a benchmark of one image needs, prepared before any timing.
struct prepared_image {
    bench_image image;
    std::vector<uint8_t> header;
    std::vector<uint8_t> reference_gif; // giflib's stream: the input of every GIF decoder
    struct strips {
        int rows;
        std::vector<uint8_t> libtiff_file; // libtiff's file: the input of both TIFF decoders
        strip_set raw;                     // its strips, for orveln1's decoder
    };
    std::vector<strips> tif;
};

std::vector<prepared_image> prepared;

// Indices of rows laid out as the bitmap rows of the image (packed nibbles at depth 4).
std::vector<uint8_t> indices_of_rows(const bench_image &image, const std::vector<uint8_t> &rows, std::size_t stride)
{
    std::vector<uint8_t> out(image.indices.size());
    for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y)
        for (std::size_t x = 0; x < static_cast<std::size_t>(image.width); ++x) {
            const uint8_t *row = rows.data() + y * stride;
            out[y * static_cast<std::size_t>(image.width) + x] =
                image.depth == 4 ? static_cast<uint8_t>((x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4) : row[x];
        }
    return out;
}

bool check(benchmark::State &state, bool ok, const char *what)
{
    if (!ok) {
        state.SkipWithError(what);
        ++verify_failures;
    }
    return ok;
}

// Runs one timed loop; reports pixel bytes per second.
template <class F> void timed(benchmark::State &state, std::size_t pixel_bytes, F &&call)
{
    for (auto _ : state) {
        if (!call()) {
            check(state, false, "call failed while timed");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pixel_bytes));
}

void gif_decode_bench(benchmark::State &state, const prepared_image *p, const std::string &side)
{
    const bench_image &im = p->image;
    std::vector<uint8_t> out;
    std::function<bool()> call;
    std::function<bool()> verify;
    if (side == "orveln1") {
        call = [&] { return ours_gif_decode(im, p->header, p->reference_gif, out); };
        verify = [&] {
            return call() && indices_of_rows(im, out, static_cast<std::size_t>(im.padded_row_bytes)) == im.indices;
        };
    } else if (side == "giflib") {
        call = [&] { return giflib_decode(im, p->reference_gif, out); };
        verify = [&] { return call() && out == im.indices; };
#ifdef ORVELN1_BENCH_HAS_WUFFS
    } else if (side == "wuffs") {
        out.resize(BENCH_WUFFS_PALETTE_BYTES + im.indices.size());
        call = [&] {
            return bench_wuffs_gif_decode(p->reference_gif.data(), p->reference_gif.size(), out.data(), out.size()) ==
                   0;
        };
        verify = [&] {
            return call() && std::equal(im.indices.begin(), im.indices.end(), out.begin() + BENCH_WUFFS_PALETTE_BYTES);
        };
#endif
    } else {
        call = [&] { return stb_decode(im, p->reference_gif, out); };
        verify = [&] { return call() && out == im.indices; };
    }
    if (check(state, verify(), "decoded pixels differ from the image"))
        timed(state, im.pixel_count(), call);
}

void gif_encode_bench(benchmark::State &state, const prepared_image *p, const std::string &side)
{
    const bench_image &im = p->image;
    std::vector<uint8_t> gif, back;
    gif.reserve(im.pixel_count() * 2);
    std::function<bool()> call;
    if (side == "orveln1")
        call = [&] { return ours_gif_encode(im, p->header, gif); };
    else
        call = [&] { return giflib_encode(im, gif); };
    if (check(state, call() && giflib_decode(im, gif, back) && back == im.indices,
              "the stream does not decode back to the image"))
        timed(state, im.pixel_count(), call);
}

void tif_decode_bench(benchmark::State &state, const prepared_image *p, std::size_t strip_index,
                      const std::string &side)
{
    const bench_image &im = p->image;
    const prepared_image::strips &s = p->tif[strip_index];
    std::vector<uint8_t> out;
    if (side == "orveln1") {
        const auto call = [&] { return ours_tif_decode(im, s.raw, s.rows, out); };
        if (check(state, call() && out == im.unpadded, "decoded strip differs from the image"))
            timed(state, im.unpadded.size(), call);
    } else {
        libtiff_reader *reader = libtiff_open(s.libtiff_file);
        const auto call = [&] { return reader != nullptr && libtiff_decode(reader, out); };
        if (check(state, call() && out == im.unpadded, "decoded strip differs from the image"))
            timed(state, im.unpadded.size(), call);
        libtiff_close(reader);
    }
}

void tif_encode_bench(benchmark::State &state, const prepared_image *p, std::size_t strip_index,
                      const std::string &side)
{
    const bench_image &im = p->image;
    const int rows = p->tif[strip_index].rows;
    std::vector<uint8_t> file, back;
    file.reserve(im.unpadded.size() * 2);
    strip_set strips;
    strips.bytes.reserve(im.unpadded.size() * 2);
    bool ok = false;
    if (side == "orveln1") {
        ok = ours_tif_encode(im, p->header, rows, strips) && libtiff_wrap_strips(im, rows, strips, file);
    } else {
        ok = libtiff_encode(im, rows, file);
    }
    libtiff_reader *reader = ok ? libtiff_open(file) : nullptr;
    ok = reader != nullptr && libtiff_decode(reader, back) && back == im.unpadded;
    libtiff_close(reader);
    if (!check(state, ok, "the strips do not decode back to the image"))
        return;
    if (side == "orveln1")
        timed(state, im.unpadded.size(), [&] { return ours_tif_encode(im, p->header, rows, strips); });
    else
        timed(state, im.unpadded.size(), [&] { return libtiff_encode(im, rows, file); });
}

// The GIF decoders timed: Wuffs only when the benchmark was built with it.
#ifdef ORVELN1_BENCH_HAS_WUFFS
constexpr const char *gif_decoders[] = {"orveln1", "giflib", "stb", "wuffs"};
#else
constexpr const char *gif_decoders[] = {"orveln1", "giflib", "stb"};
#endif

void register_all(bool small)
{
    const auto finish = [small](benchmark::internal::Benchmark *b) {
        b->Unit(benchmark::kMillisecond);
        if (small)
            b->Iterations(1);
    };
    for (const prepared_image &p : prepared) {
        const std::string &n = p.image.name;
        for (const char *side : gif_decoders)
            finish(benchmark::RegisterBenchmark(("gif_decode/" + std::string(side) + "/" + n).c_str(), gif_decode_bench,
                                                &p, std::string(side)));
        for (const char *side : {"orveln1", "giflib"})
            finish(benchmark::RegisterBenchmark(("gif_encode/" + std::string(side) + "/" + n).c_str(), gif_encode_bench,
                                                &p, std::string(side)));
        for (std::size_t s = 0; s < p.tif.size(); ++s)
            for (const char *side : {"orveln1", "libtiff"}) {
                const std::string suffix = std::string(side) + "/" + strip_cases[s].label + "/" + n;
                finish(benchmark::RegisterBenchmark(("tif_decode/" + suffix).c_str(), tif_decode_bench, &p, s,
                                                    std::string(side)));
                finish(benchmark::RegisterBenchmark(("tif_encode/" + suffix).c_str(), tif_encode_bench, &p, s,
                                                    std::string(side)));
            }
    }
}

bool prepare(const bench_image &image, prepared_image &p)
{
    p.image = image;
    p.header = make_image_header(image);
    if (!giflib_encode(image, p.reference_gif))
        return false;
    for (const strip_case &c : strip_cases) {
        prepared_image::strips s;
        s.rows = c.bytes == 0 ? image.height : rows_per_strip(image, c.bytes);
        if (!libtiff_encode(image, s.rows, s.libtiff_file) || !libtiff_raw_strips(s.libtiff_file, s.raw))
            return false;
        p.tif.push_back(std::move(s));
    }
    return true;
}

// Peak bytes of working memory held during one call of each codec, for a short and a tall image
// of the same width: the blocks depend on the width only.
struct memory_row {
    const char *codec;
    int64_t peak_short, peak_tall, design;
};

std::vector<memory_row> measure_memory(int width)
{
    constexpr int short_rows = 10, tall_rows = 10000;
    const auto peak_of = [](const std::function<bool()> &call) -> int64_t {
        orveln1::memory_stats_reset();
        if (!call())
            return -1;
        return orveln1::memory_stats_now().peak_bytes;
    };
    int64_t peaks[4][2] = {};
    for (int t = 0; t < 2; ++t) {
        const bench_image im = synthetic_photo(width, t == 0 ? short_rows : tall_rows);
        const std::vector<uint8_t> header = make_image_header(im);
        std::vector<uint8_t> gif, out, file;
        strip_set strips;
        peaks[0][t] = peak_of([&] { return ours_gif_encode(im, header, gif); });
        peaks[1][t] = peak_of([&] { return ours_gif_decode(im, header, gif, out); });
        peaks[2][t] = peak_of([&] { return ours_tif_encode(im, header, im.height, strips); });
        peaks[3][t] = peak_of([&] { return ours_tif_decode(im, strips, im.height, out); });
    }
    // The blocks each codec names: GIF encoder: 81920-byte string table, two rows of 4 x padded row
    // bytes, 300-byte sub-block buffer; GIF decoder: 49164-byte decode table and a row block of the
    // row slot (padded row bytes rounded up to 8) plus width + 4103 bytes; TIFF encoder: string
    // table, two rows of 6 x padded row bytes, 2100-byte code buffer; TIFF decoder: its 49424-byte
    // table.
    const int64_t prb = (width + 3) / 4 * 4;
    return {{"gif_encode", peaks[0][0], peaks[0][1], 81920 + 8 * prb + 300},
            {"gif_decode", peaks[1][0], peaks[1][1], 49164 + (prb + 7) / 8 * 8 + int64_t{width} + 4103},
            {"tif_encode", peaks[2][0], peaks[2][1], 81920 + 12 * prb + 2100},
            {"tif_decode", peaks[3][0], peaks[3][1], 49424}};
}

void report_memory(const std::vector<memory_row> &rows, int width)
{
    std::string json = "[\n";
    for (const memory_row &r : rows) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "  {\"codec\": \"%s\", \"width\": %d, \"peak_bytes_10_rows\": %lld, "
                      "\"peak_bytes_10000_rows\": %lld, \"design_bytes\": %lld}%s\n",
                      r.codec, width, static_cast<long long>(r.peak_short), static_cast<long long>(r.peak_tall),
                      static_cast<long long>(r.design), &r == &rows.back() ? "" : ",");
        json += line;
        std::fprintf(stderr, "memory %-10s width %d: 10 rows %lld bytes, 10000 rows %lld bytes, blocks named %lld\n",
                     r.codec, width, static_cast<long long>(r.peak_short), static_cast<long long>(r.peak_tall),
                     static_cast<long long>(r.design));
        if (r.peak_short < 0 || r.peak_short != r.peak_tall) {
            std::fprintf(stderr, "memory %s: the peak depends on the height or the call failed\n", r.codec);
            ++verify_failures;
        }
    }
    json += "]\n";
    if (const char *path = std::getenv("ORVELN1_BENCH_MEMORY_OUT"))
        std::ofstream(path) << json;
}

void dump_images(const std::string &dir)
{
    std::string list = "[\n";
    for (const prepared_image &p : prepared) {
        const bench_image &im = p.image;
        std::ofstream(dir + "/" + im.name + ".idx", std::ios::binary)
            .write(reinterpret_cast<const char *>(im.indices.data()), static_cast<std::streamsize>(im.indices.size()));
        std::ofstream(dir + "/" + im.name + ".gif", std::ios::binary)
            .write(reinterpret_cast<const char *>(p.reference_gif.data()),
                   static_cast<std::streamsize>(p.reference_gif.size()));
        list += "  {\"name\": \"" + im.name + "\", \"width\": " + std::to_string(im.width) +
                ", \"height\": " + std::to_string(im.height) + ", \"depth\": " + std::to_string(im.depth) + "}" +
                (&p == &prepared.back() ? "\n" : ",\n");
    }
    std::ofstream(dir + "/images.json") << list << "]\n";
}

bool env_set(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' && std::string(v) != "0";
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    const bool small = env_set("ORVELN1_BENCH_SMALL");
    const char *corpus_from_environment = std::getenv("ORVELN1_CORPUS_DIR");
    ours_register_callbacks();

    // The real pictures follow the corpus tests' rule: skipped with a note when the corpus is not
    // there (a failure when ORVELN1_REQUIRE_CORPUS is set), a failure when it lacks a file.
    std::string corpus = corpus_from_environment != nullptr && *corpus_from_environment != '\0'
                             ? corpus_from_environment
                             : ORVELN1_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) {
        std::fprintf(stderr, "corpus not found at %s: the real pictures are skipped\n", corpus.c_str());
        if (env_set("ORVELN1_REQUIRE_CORPUS"))
            return 1;
        corpus.clear();
    }
    std::vector<std::string> missing;
    const std::vector<bench_image> images = load_image_set(small, corpus, missing);
    for (const std::string &file : missing)
        std::fprintf(stderr, "corpus at %s is incomplete: %s is missing or too short\n", corpus.c_str(), file.c_str());
    if (!missing.empty())
        return 1;
    prepared.reserve(images.size());
    for (const bench_image &image : images) {
        prepared_image p;
        if (!prepare(image, p)) {
            std::fprintf(stderr, "%s: the peers could not encode the image\n", image.name.c_str());
            return 1;
        }
        prepared.push_back(std::move(p));
    }
    if (const char *dir = std::getenv("ORVELN1_BENCH_DUMP"))
        dump_images(dir);

    const int memory_width = small ? 64 : 1024;
    report_memory(measure_memory(memory_width), memory_width);

    register_all(small);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (verify_failures != 0)
        std::fprintf(stderr, "%d check(s) failed\n", verify_failures);
    return verify_failures == 0 ? 0 : 1;
}
