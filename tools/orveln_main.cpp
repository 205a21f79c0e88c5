// SPDX-License-Identifier: MIT
// orveln: the command-line host of the library: converts between BMP, GIF and LZW TIFF, describes
// files, and runs the demo. Errors are one line on standard error; exit 1 for failures, 2 for usage.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "convert.hpp"
#include "demo_image.hpp"
#include "orveln1.h"
#include "parallel.hpp"
#include "tool_error.hpp"

using namespace orveln1;
using namespace orveln1::tool;

namespace
{

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;
// Images at least this large show progress on a terminal.
constexpr std::size_t progress_bytes = std::size_t{32} << 20;

const char *const help_text = R"(usage: orveln COMMAND [ARGS]

Convert between BMP, GIF and LZW-compressed TIFF with the orveln1 LZW codec.

commands:
  convert IN OUT [options]   convert IN (format told by its content) into OUT (format told by
                             its extension, or by --to); "-" is standard input or output
  info FILE...               what each file holds and how well LZW did
  demo [DIR]                 write a generated picture as GIF, interlaced GIF and LZW TIFF into
                             DIR (default orveln-demo), read each back, verify, print a table

convert options:
  --to gif|tif|bmp           output format (needed when OUT is "-")
  --interlace                GIF: write the rows interlaced
  --transparent INDEX        GIF: mark palette entry INDEX as transparent
  --predictor                TIFF: horizontal differencing before LZW (predictor 2)
  --threads N                TIFF: strips coded on N threads (default: one per core)
  -v, --verbose              say what was done

demo options:
  --size N                   picture of N x N pixels (default 2048)
  --threads N                threads for the TIFF strips (default: one per core)

  -h, --help                 this text
  --version                  the version

examples:
  orveln convert photo.bmp photo.gif --interlace
  orveln convert scan.tif scan.bmp
  cat picture.gif | orveln convert - - --to tif > picture.tif
  orveln info picture.gif scan.tif
  orveln demo out/
)";

// An error attached to the file it concerns.
struct file_failure {
    std::string file;
    std::string message;
};

bool stderr_is_terminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void progress(const std::string &what)
{
    if (stderr_is_terminal())
        std::fprintf(stderr, "\r\033[Korveln: %s", what.c_str());
}

void progress_done()
{
    if (stderr_is_terminal())
        std::fprintf(stderr, "\r\033[K");
}

unsigned parse_count(const std::string &option, const std::string &value, unsigned low, unsigned high)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || v < static_cast<long>(low) || v > static_cast<long>(high))
        throw usage_error(option + " wants a number from " + std::to_string(low) + " to " + std::to_string(high) +
                          ", not '" + value + "'");
    return static_cast<unsigned>(v);
}

// Takes the options out of args, leaving the operands.
struct parsed_args {
    std::vector<std::string> operands;
    save_options save;
    std::optional<file_format> to;
    bool verbose = false;
    int32_t size = demo_default_size;
};

parsed_args parse(const std::vector<std::string> &args, bool demo)
{
    parsed_args p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string & {
            if (i + 1 >= args.size())
                throw usage_error(a + " needs a value");
            return args[++i];
        };
        if (a == "--threads") {
            p.save.threads = parse_count(a, value(), 1, 1024);
        } else if (demo && a == "--size") {
            p.size = static_cast<int32_t>(parse_count(a, value(), 1, 16384));
        } else if (!demo && a == "--to") {
            const std::string &v = value();
            p.to = format_from_name(v);
            if (!p.to)
                throw usage_error("--to wants gif, tif or bmp, not '" + v + "'");
        } else if (!demo && a == "--interlace") {
            p.save.interlace = true;
        } else if (!demo && a == "--transparent") {
            p.save.transparent = static_cast<int>(parse_count(a, value(), 0, 255));
        } else if (!demo && a == "--predictor") {
            p.save.predictor = true;
        } else if (a == "-v" || a == "--verbose") {
            p.verbose = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw usage_error("unknown option '" + a + "'");
        } else {
            p.operands.push_back(a);
        }
    }
    return p;
}

std::string depth_text(const picture &image)
{
    if (image.depth <= 8)
        return std::to_string(image.depth) + "-bit palette (" + std::to_string(image.palette.size()) + " colours)";
    return image.depth == 24 ? "24-bit RGB" : "32-bit RGB+extra";
}

int run_convert(const std::vector<std::string> &args)
{
    const parsed_args p = parse(args, false);
    if (p.operands.size() != 2)
        throw usage_error("convert wants IN and OUT");
    const std::string &in = p.operands[0];
    const std::string &out = p.operands[1];
    std::optional<file_format> to = p.to ? p.to : format_from_name(out);
    if (!to)
        throw usage_error(out == "-" ? "writing to standard output needs --to gif|tif|bmp"
                                     : "cannot tell the output format from '" + out + "'; use --to gif|tif|bmp");
    if ((p.save.interlace || p.save.transparent >= 0) && *to != file_format::gif)
        throw usage_error("--interlace and --transparent apply to GIF output only");
    if (p.save.predictor && *to != file_format::tif)
        throw usage_error("--predictor applies to TIFF output only");

    picture image;
    try {
        const std::vector<uint8_t> data = read_input_file(in);
        if (data.size() >= progress_bytes)
            progress("reading " + in);
        image = load_picture(data, p.save.threads);
    } catch (const failure &e) {
        progress_done();
        throw file_failure{in == "-" ? "(standard input)" : in, e.what()};
    }
    std::vector<uint8_t> encoded;
    try {
        if (image.pixels.size() >= progress_bytes)
            progress("writing " + out);
        encoded = save_picture(image, *to, p.save);
        progress_done();
        write_output_file(out, encoded);
    } catch (const failure &e) {
        progress_done();
        throw file_failure{out == "-" ? "(standard output)" : out, e.what()};
    }
    if (p.verbose)
        std::fprintf(stderr, "orveln: %s (%dx%d, %s) -> %s (%s, %zu bytes)\n", in.c_str(), image.width, image.height,
                     depth_text(image).c_str(), out.c_str(), format_name(*to), encoded.size());
    return 0;
}

std::string ratio_text(uint64_t in, uint64_t out)
{
    char text[64];
    if (out == 0)
        return "-";
    std::snprintf(text, sizeof text, "%.2f:1", static_cast<double>(in) / static_cast<double>(out));
    return text;
}

void describe(const std::string &path)
{
    load_facts facts;
    picture image;
    std::vector<uint8_t> data;
    try {
        data = read_input_file(path);
        image = load_picture(data, 0, &facts);
    } catch (const failure &e) {
        throw file_failure{path, e.what()};
    }
    std::printf("%s: %s, %u bytes\n", path.c_str(), format_name(facts.format), static_cast<unsigned>(data.size()));
    std::printf("  image: %dx%d, %s\n", image.width, image.height, depth_text(image).c_str());
    const uint64_t pixel_bytes =
        static_cast<uint64_t>(image.height) * ((static_cast<uint64_t>(image.width) * image.depth + 7) / 8);
    switch (facts.format) {
    case file_format::bmp:
        std::printf("  compression: none\n");
        break;
    case file_format::gif: {
        const gif_facts &g = facts.gif;
        std::printf("  screen: %dx%d; %s colour table of %d entries; %s; transparency: %s\n", g.screen_width,
                    g.screen_height, g.local_colour_table ? "local" : "global", g.colour_table_entries,
                    g.interlaced ? "interlaced" : "not interlaced",
                    g.transparent_index >= 0 ? ("index " + std::to_string(g.transparent_index)).c_str() : "none");
        const uint64_t in = static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height);
        std::printf("  LZW: minimum code size %d; %llu pixel bytes -> %llu bytes, ratio %s; %d of %d rows complete\n",
                    g.min_code_size, static_cast<unsigned long long>(in),
                    static_cast<unsigned long long>(g.compressed_bytes), ratio_text(in, g.compressed_bytes).c_str(),
                    g.rows_complete, image.height);
        break;
    }
    case file_format::tif: {
        const tiff_facts &t = facts.tiff;
        std::printf("  %s, %d sample(s) of %d bits; %u strips of %u rows; compression %s%s\n", t.photometric.c_str(),
                    t.samples_per_pixel, t.bits_per_sample, t.strips, t.rows_per_strip, t.compression.c_str(),
                    t.predictor ? ", predictor 2" : "");
        std::printf("  %s: %llu pixel bytes -> %llu bytes, ratio %s\n", t.compression.c_str(),
                    static_cast<unsigned long long>(pixel_bytes), static_cast<unsigned long long>(t.compressed_bytes),
                    ratio_text(pixel_bytes, t.compressed_bytes).c_str());
        break;
    }
    }
}

int run_info(const std::vector<std::string> &args)
{
    const parsed_args p = parse(args, false);
    if (p.operands.empty())
        throw usage_error("info wants at least one FILE");
    for (const std::string &path : p.operands)
        describe(path);
    return 0;
}

double seconds_of(const std::function<void()> &work, int runs)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

int run_demo(const std::vector<std::string> &args)
{
    const parsed_args p = parse(args, true);
    if (p.operands.size() > 1)
        throw usage_error("demo wants at most one DIR");
    const std::filesystem::path dir = p.operands.empty() ? "orveln-demo" : p.operands[0];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        throw file_failure{dir.string(), "cannot create the folder: " + ec.message()};

    progress("generating the picture");
    const picture image = make_demo_picture(p.size, p.save.threads);
    const double megabytes = static_cast<double>(image.width) * image.height / 1e6;
    progress_done();
    std::printf("orveln demo: %dx%d Mandelbrot bands, 8-bit palette of 256 colours (%.1f MB of pixels), %u "
                "threads for TIFF strips\n\n",
                image.width, image.height, megabytes, thread_count(p.save.threads, 1u << 20));

    struct job {
        const char *label;
        const char *file;
        file_format format;
        save_options options;
    };
    save_options plain = p.save;
    save_options interlaced = p.save;
    interlaced.interlace = true;
    const job jobs[] = {
        {"GIF", "demo.gif", file_format::gif, plain},
        {"GIF interlaced", "demo-interlaced.gif", file_format::gif, interlaced},
        {"TIFF LZW", "demo.tif", file_format::tif, plain},
        {"BMP (reference)", "demo.bmp", file_format::bmp, plain},
    };
    constexpr int runs = 3; // best of three, so that a busy moment does not decide the figure
    std::printf("%-16s %-20s %10s %8s %12s %12s  %s\n", "format", "file", "bytes", "ratio", "encode MB/s",
                "decode MB/s", "pixels");
    bool all_good = true;
    for (const job &j : jobs) {
        const std::string path = (dir / j.file).string();
        std::vector<uint8_t> encoded;
        picture back;
        try {
            progress(std::string("writing ") + j.file);
            const double enc = seconds_of([&] { encoded = save_picture(image, j.format, j.options); }, runs);
            write_output_file(path, encoded);
            progress(std::string("reading ") + j.file);
            const std::vector<uint8_t> stored = read_input_file(path);
            const double dec = seconds_of([&] { back = load_picture(stored, p.save.threads); }, runs);
            progress_done();
            const bool same = back.width == image.width && back.height == image.height && back.pixels == image.pixels;
            all_good = all_good && same;
            std::printf("%-16s %-20s %10zu %8s %12.1f %12.1f  %s\n", j.label, j.file, encoded.size(),
                        ratio_text(image.pixels.size(), encoded.size()).c_str(), megabytes / enc, megabytes / dec,
                        same ? "verified" : "DIFFER");
        } catch (const failure &e) {
            progress_done();
            throw file_failure{path, e.what()};
        }
    }
    std::printf("\nfiles in %s\n", dir.string().c_str());
    if (!all_good)
        throw file_failure{dir.string(), "a file did not read back to the picture written"};
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> all(argv + 1, argv + argc);
    try {
        if (all.empty())
            throw usage_error("no command given");
        const std::string &command = all[0];
        const std::vector<std::string> rest(all.begin() + 1, all.end());
        if (command == "-h" || command == "--help" || command == "help") {
            std::fputs(help_text, stdout);
            return 0;
        }
        if (command == "--version") {
            std::printf("orveln %s\n", ORVELN1_VERSION_STRING);
            return 0;
        }
        for (const std::string &a : rest)
            if (a == "-h" || a == "--help") {
                std::fputs(help_text, stdout);
                return 0;
            }
        if (command == "convert")
            return run_convert(rest);
        if (command == "info")
            return run_info(rest);
        if (command == "demo")
            return run_demo(rest);
        throw usage_error("unknown command '" + command + "'");
    } catch (const usage_error &e) {
        std::fprintf(stderr, "orveln: %s (try 'orveln --help')\n", e.what());
        return exit_usage;
    } catch (const file_failure &e) {
        std::fprintf(stderr, "orveln: %s: %s\n", e.file.c_str(), e.message.c_str());
        return exit_failure;
    } catch (const failure &e) {
        std::fprintf(stderr, "orveln: %s\n", e.what());
        return exit_failure;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "orveln: out of memory\n");
        return exit_failure;
    }
}
