// SPDX-License-Identifier: MIT
// orveln: the command-line host of the library: converts between BMP, GIF, LZW TIFF and PNG, describes
// files, and runs the demo. Errors are one line on standard error; exit 1 for failures, 2 for usage.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
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

const char *const help_text = R"(usage: orveln COMMAND [ARGS]

Convert between BMP, GIF, LZW-compressed TIFF and PNG (and read JPEG) with the orveln1 LZW codec.

commands:
  convert IN OUT [options]   convert IN (format told by its content) into OUT (format told by
  convert IN -o OUT          its extension, or by --to); "-" is standard input or output
  info FILE...               what each file holds (every GIF image, every TIFF page) and how
                             well LZW did; exit 1 if any file could not be read
  demo [DIR]                 write a generated picture as GIF, interlaced GIF and LZW TIFF into
                             DIR (default orveln-demo), read each back, verify, print a table

convert options:
  -o, --output OUT           the output file
  --to gif|tif|bmp|png       output format (needed when OUT is "-")
  --image N                  the image (GIF) or page (TIFF) to convert, from 0 (default 0)
  -f, --force                replace a write-protected OUT
  --interlace                GIF: write the rows interlaced
  --transparent INDEX        GIF: mark palette entry INDEX as transparent
  --colors N                 GIF: reduce pictures of more colours to N (default 256)
  --no-dither                GIF: reduce colours without error diffusion
  --exact                    GIF: refuse pictures of more than 256 colours instead
  --no-predictor             TIFF: no horizontal differencing (on by default for 8-bit grey,
                             RGB and RGBA)
  --predictor                TIFF: horizontal differencing also for palette pictures
  --threads N                TIFF: strips coded on N threads (default: one per core)
  -v, --verbose              say what was done, and how files were read

demo options:
  --size N                   picture of N x N pixels (default 2048)
  --threads N                threads for the TIFF strips (default: one per core)

  -h, --help                 this text
  --version                  the version
  Options take their value as "--opt VALUE" or "--opt=VALUE"; "--" ends the options.

examples:
  orveln convert photo.png photo.gif
  orveln convert scan.tif scan.png
  orveln convert animation.gif -o third.tif --image 2
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

void progress_done()
{
    if (stderr_is_terminal())
        std::fprintf(stderr, "\r\033[K");
}

// A whole decimal number from low to high, or nothing when the text is anything else.
std::optional<unsigned> read_count(const std::string &text, unsigned low, unsigned high)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < static_cast<long>(low) || v > static_cast<long>(high))
        return std::nullopt;
    return static_cast<unsigned>(v);
}

// Work shorter than this shows no progress line, so that small files do not flicker.
// ORVELN_PROGRESS_DELAY_MS sets another wait (0: from the first row), for a session recorded with
// script(1) or a terminal that wants every line.
std::chrono::milliseconds progress_delay()
{
    const char *text = std::getenv("ORVELN_PROGRESS_DELAY_MS");
    // A value the tool cannot read keeps the default: the variable only tunes the display, so it is
    // no reason to refuse the conversion.
    const auto ms = text != nullptr ? read_count(text, 0, 3600000) : std::nullopt;
    return std::chrono::milliseconds{ms.value_or(250)};
}

// A progress line on a terminal: "orveln: writing out.tif  42%", redrawn only when the percent
// changes, and only once the work has taken long enough to be worth watching.
progress_fn progress_line(const std::string &what)
{
    if (!stderr_is_terminal())
        return {};
    auto last = std::make_shared<int>(-1);
    const auto shown_from = std::chrono::steady_clock::now() + progress_delay();
    return [what, last, shown_from](double done) {
        const int percent = static_cast<int>(done * 100);
        if (percent == *last || std::chrono::steady_clock::now() < shown_from)
            return;
        *last = percent;
        std::fprintf(stderr, "\r\033[Korveln: %s %3d%%", what.c_str(), percent);
    };
}

void progress(const std::string &what)
{
    if (stderr_is_terminal())
        std::fprintf(stderr, "\r\033[Korveln: %s", what.c_str());
}

unsigned parse_count(const std::string &option, const std::string &value, unsigned low, unsigned high)
{
    if (const auto v = read_count(value, low, high))
        return *v;
    throw usage_error(option + " wants a number from " + std::to_string(low) + " to " + std::to_string(high) +
                      ", not '" + value + "'");
}

enum class command_kind { convert, info, demo };

// Takes the options out of args, leaving the operands.
struct parsed_args {
    std::vector<std::string> operands;
    std::optional<std::string> output;
    save_options save;
    write_options write;
    std::optional<file_format> to;
    int image = 0;
    bool image_given = false;
    int32_t size = demo_default_size;
};

parsed_args parse(const std::vector<std::string> &args, command_kind command)
{
    parsed_args p;
    const bool convert = command == command_kind::convert;
    const bool demo = command == command_kind::demo;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (options_end || a == "-" || a.size() < 2 || a[0] != '-') {
            p.operands.push_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        // --opt=value
        std::optional<std::string> attached;
        if (a.rfind("--", 0) == 0) {
            const std::size_t eq = a.find('=');
            if (eq != std::string::npos) {
                attached = a.substr(eq + 1);
                a.resize(eq);
            }
        }
        auto value = [&]() -> std::string {
            if (attached)
                return *attached;
            if (i + 1 >= args.size())
                throw usage_error(a + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (attached)
                throw usage_error(a + " takes no value");
        };
        if (a == "--threads" && (convert || demo)) {
            p.save.threads = parse_count(a, value(), 1, 1024);
        } else if (demo && a == "--size") {
            p.size = static_cast<int32_t>(parse_count(a, value(), 1, 16384));
        } else if (convert && (a == "-o" || a == "--output")) {
            if (p.output)
                throw usage_error("more than one output given");
            p.output = value();
        } else if (convert && a == "--to") {
            const std::string v = value();
            p.to = format_from_name(v);
            if (!p.to)
                throw usage_error("--to wants gif, tif, bmp or png, not '" + v + "'");
        } else if (convert && a == "--image") {
            p.image = static_cast<int>(parse_count(a, value(), 0, 1 << 20));
            p.image_given = true;
        } else if (convert && (a == "-f" || a == "--force")) {
            flag();
            p.write.force = true;
        } else if (convert && a == "--interlace") {
            flag();
            p.save.interlace = true;
        } else if (convert && a == "--transparent") {
            p.save.transparent = static_cast<int>(parse_count(a, value(), 0, 255));
        } else if (convert && (a == "--colors" || a == "--colours")) {
            p.save.colours = static_cast<int>(parse_count(a, value(), 2, 256));
        } else if (convert && a == "--no-dither") {
            flag();
            p.save.dither = false;
        } else if (convert && a == "--exact") {
            flag();
            p.save.exact = true;
        } else if (convert && a == "--predictor") {
            flag();
            p.save.predictor = save_options::predictor_choice::on;
        } else if (convert && a == "--no-predictor") {
            flag();
            p.save.predictor = save_options::predictor_choice::off;
        } else if (a == "-v" || a == "--verbose") {
            flag();
            verbose = true;
        } else {
            throw usage_error("unknown option '" + a + "'");
        }
    }
    return p;
}

std::string depth_text(const picture &image, sample_meaning fourth)
{
    if (image.depth <= 8) {
        if (is_grey_palette(image))
            return image.depth == 1 ? "bilevel" : std::to_string(image.depth) + "-bit grey";
        return std::to_string(image.depth) + "-bit palette (" + std::to_string(image.palette.size()) + " colours)";
    }
    if (image.depth == 24)
        return "24-bit RGB";
    return fourth == sample_meaning::unspecified ? "32-bit RGB and an extra byte" : "32-bit RGBA";
}

std::string display_name(const std::string &path, bool output)
{
    return path == "-" ? (output ? "(standard output)" : "(standard input)") : path;
}

int run_convert(const std::vector<std::string> &args)
{
    parsed_args p = parse(args, command_kind::convert);
    const std::size_t wanted = p.output ? 1 : 2;
    if (p.operands.size() != wanted)
        throw usage_error(p.output ? "convert -o OUT wants exactly one IN, got " + std::to_string(p.operands.size())
                                   : "convert wants exactly IN and OUT, got " + std::to_string(p.operands.size()));
    const std::string in = p.operands[0];
    const std::string out = p.output ? *p.output : p.operands[1];
    std::optional<file_format> to = p.to ? p.to : format_from_name(out);
    if (!to)
        throw usage_error(out == "-" ? "writing to standard output needs --to gif|tif|bmp|png"
                                     : "cannot tell the output format from '" + out + "'; use --to gif|tif|bmp|png");
    const bool gif_only =
        p.save.interlace || p.save.transparent >= 0 || !p.save.dither || p.save.exact || p.save.colours != 256;
    if (gif_only && *to != file_format::gif)
        throw usage_error("--interlace, --transparent, --colors, --no-dither and --exact apply to GIF output only");
    if (p.save.predictor != save_options::predictor_choice::automatic && *to != file_format::tif)
        throw usage_error("--predictor and --no-predictor apply to TIFF output only");
    if (out == "-" && ::isatty(STDOUT_FILENO) == 1)
        throw usage_error("will not write a binary image to a terminal; redirect standard output or name a file");

    const std::string in_name = display_name(in, false);
    const std::string out_name = display_name(out, true);
    warning_subject = in_name;
    hold_warnings = true;
    std::unique_ptr<row_source> source;
    load_facts facts;
    try {
        load_options lo;
        lo.threads = p.save.threads;
        lo.image = p.image;
        lo.progress = progress_line("reading " + in_name);
        source = open_picture_file(in, lo, &facts);
        progress_done();
    } catch (const failure &e) {
        progress_done();
        throw file_failure{in_name, e.what()};
    }
    const picture &image = source->shape();
    if (facts.images > 1 && !p.image_given)
        warn(std::string("holds ") + std::to_string(facts.images) +
             (facts.format == file_format::tif ? " pages" : " images") +
             "; converting the first only (--image N picks another)");
    if (image.transparent_index >= 0 && (*to == file_format::bmp || *to == file_format::tif))
        warn(std::string(format_name(*to)) + " has no transparent colour: transparency dropped");
    p.save.fourth = facts.fourth;
    p.save.progress = progress_line("writing " + out_name);
    try {
        write_picture_file(out, *source, *to, p.save, p.write);
        progress_done();
    } catch (const output_failure &e) {
        progress_done();
        throw file_failure{out_name, e.what()};
    } catch (const failure &e) {
        progress_done();
        throw file_failure{in_name, e.what()};
    }
    release_warnings();
    note(std::string("(") + std::to_string(image.width) + "x" + std::to_string(image.height) + ", " +
         depth_text(image, facts.fourth) + ") -> " + out_name + " (" + format_name(*to) + ")");
    return 0;
}

// Describes one file on standard output; false when it could not be read (the reason is printed
// on standard error too, so that a failing file shows among many).
bool describe(const std::string &path)
{
    std::vector<uint8_t> data;
    try {
        data = read_input_file(path);
    } catch (const failure &e) {
        std::fprintf(stderr, "orveln: %s: %s\n", path.c_str(), e.what());
        return false;
    }
    const std::optional<file_format> format = sniff_format(data);
    if (!format) {
        std::fprintf(stderr, "orveln: %s: %s\n", path.c_str(),
                     data.empty() ? "empty file" : "unknown file format (not BMP, GIF, TIFF, PNG or JPEG)");
        return false;
    }
    std::printf("%s: %s, %zu bytes\n", path.c_str(), format_name(*format), data.size());
    std::fflush(stdout);
    warning_subject = path;
    bool good = true;
    switch (*format) {
    case file_format::gif:
        good = describe_gif(data, stdout);
        break;
    case file_format::tif:
        good = describe_tiff(data, stdout);
        break;
    default:
        try {
            load_facts facts;
            const picture image = load_picture(data, {}, &facts);
            std::printf("  image: %dx%d, %s\n", image.width, image.height, depth_text(image, facts.fourth).c_str());
        } catch (const failure &e) {
            std::printf("  %s\n", e.what());
            good = false;
        }
    }
    std::fflush(stdout);
    if (!good)
        std::fprintf(stderr, "orveln: %s: damaged or unreadable (details above)\n", path.c_str());
    return good;
}

int run_info(const std::vector<std::string> &args)
{
    const parsed_args p = parse(args, command_kind::info);
    if (p.operands.empty())
        throw usage_error("info wants at least one FILE");
    int failed = 0;
    for (const std::string &path : p.operands)
        failed += describe(path) ? 0 : 1;
    return failed == 0 ? 0 : exit_failure;
}

std::string ratio_text(uint64_t in, uint64_t out)
{
    char text[64];
    if (out == 0)
        return "-";
    std::snprintf(text, sizeof text, "%.2f:1", static_cast<double>(in) / static_cast<double>(out));
    return text;
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
    const parsed_args p = parse(args, command_kind::demo);
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
            load_options lo;
            lo.threads = p.save.threads;
            const double dec = seconds_of([&] { back = load_picture(stored, lo); }, runs);
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
    } catch (const std::exception &e) {
        std::fprintf(stderr, "orveln: %s\n", e.what());
        return exit_failure;
    } catch (...) {
        std::fprintf(stderr, "orveln: unexpected failure\n");
        return exit_failure;
    }
}
