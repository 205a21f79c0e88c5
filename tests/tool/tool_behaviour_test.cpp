// SPDX-License-Identifier: MIT
// The orveln tool's promises to its users, run as a subprocess: nothing left behind by a signal,
// links and protected files respected, transparency dropped aloud, info on every kind of file, PNG
// colour types, colour reduction, images and pages, and the command-line conventions.
#include <signal.h>

#include <chrono>
#include <thread>

#include "tool_fixture.hpp"

using namespace tool_test;

namespace
{

using tool_signal = orveln_table<int>;

// A signal during the write removes the temporary file and ends the tool by that signal. The tool is
// stopped while its temporary file is there, so the signal cannot arrive after the rename however
// the machine schedules the two processes.
TEST_P(tool_signal, DuringTheWriteLeavesNothingBehind)
{
    const int sig = GetParam();
    spit(at("big.bmp"), host::write_bmp(photo_like(3000, 3000)));
    for (int attempt = 0; attempt < 5; ++attempt) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(sig, SIG_DFL);
            ::execl(ORVELN_TOOL, "orveln", "convert", at("big.bmp").c_str(), at("out.tif").c_str(), "--threads", "1",
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (!temporary_left()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            ::kill(child, SIGSTOP);
            ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
            if (!WIFSTOPPED(status))
                break; // it ended before the stop took hold
            const bool caught = temporary_left();
            if (caught)
                ::kill(child, sig); // held pending until the tool runs again
            ::kill(child, SIGCONT);
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            if (!caught)
                break;
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
            EXPECT_FALSE(temporary_left());
            EXPECT_FALSE(fs::exists(at("out.tif")));
            return;
        }
        fs::remove(at("out.tif"));
    }
    FAIL() << "the conversion ended five times before its temporary file was seen";
}

// SIGXFSZ is what the system sends when the output outgrows the file size limit.
INSTANTIATE_TEST_SUITE_P(fatal, tool_signal, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGXFSZ),
                         [](const auto &i) { return std::to_string(i.param); });

// Converting onto a symbolic link replaces what it points to and keeps the link, as cp does.
TEST_F(orveln_cli, SymbolicLinkIsWrittenThrough)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 30, 20)));
    ASSERT_TRUE(ok(convert("in.bmp", "direct.tif")));
    fs::create_directories(at("real"));
    spit(at("real/target.tif"), std::vector<uint8_t>{'o', 'l', 'd'});
    fs::create_symlink("real/target.tif", at("link.tif"));
    fs::create_symlink("real/new.tif", at("dangling.tif"));
    for (const char *link : {"link.tif", "dangling.tif"}) {
        ASSERT_TRUE(ok(convert("in.bmp", link))) << link;
        EXPECT_TRUE(fs::is_symlink(at(link))) << link;
    }
    EXPECT_EQ(slurp(at("real/target.tif")), slurp(at("direct.tif")));
    EXPECT_EQ(slurp(at("real/new.tif")), slurp(at("direct.tif")));
}

// A file without write permission is refused unless --force, and keeps its mode when replaced; a
// failed conversion leaves it alone.
TEST_F(orveln_cli, WriteProtectedTargetNeedsForce)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 30, 20)));
    spit(at("keep.gif"), std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(at("keep.gif"), read_only);
    run_result r = convert("in.bmp", "keep.gif");
    EXPECT_TRUE(r.exit_code == 1 && has(r.err, "keep.gif") && has(r.err, "--force"))
        << "exit " << r.exit_code << ": " << r.err;
    EXPECT_EQ(slurp(at("keep.gif")), "keep");
    for (const char *force : {"--force", "-f"}) {
        EXPECT_TRUE(ok(convert("in.bmp", "keep.gif", force)));
        EXPECT_EQ(slurp(at("keep.gif")).rfind("GIF8", 0), 0u);
        EXPECT_EQ(fs::status(at("keep.gif")).permissions() & fs::perms::all, read_only);
    }
    // A conversion that fails leaves the file it was to write as it was.
    const std::string before = slurp(at("keep.gif"));
    spit(at("rich.bmp"), host::write_bmp(photo_like(40, 40)));
    EXPECT_EQ(convert("rich.bmp", "keep.gif", "--exact -f").exit_code, 1);
    EXPECT_EQ(slurp(at("keep.gif")), before);
}

// A graphic control extension naming an index outside the colour table: the picture converts to the
// formats that keep a transparent index, and the impossible transparency is dropped with a warning.
TEST_F(orveln_cli, OutOfRangeTransparentIndexIsDroppedAloud)
{
    spit(at("in.bmp"), host::write_bmp(sample(4, 24, 16)));
    ASSERT_TRUE(ok(convert("in.bmp", "t.gif", "--transparent 3")));
    std::vector<uint8_t> gif = slurp<bytes>(at("t.gif"));
    const uint8_t label[] = {0x21, 0xF9, 4};
    const auto gce = std::search(gif.begin(), gif.end(), std::begin(label), std::end(label));
    ASSERT_NE(gce, gif.end());
    gce[6] = 200; // the table has 16 entries
    spit(at("odd.gif"), gif);
    for (const char *out : {"o.gif", "o.png"}) {
        const run_result r = convert("odd.gif", out);
        ASSERT_TRUE(ok(r)) << out;
        EXPECT_TRUE(has(r.err, "transparency dropped")) << out;
        EXPECT_TRUE(same_in_pillow("in.bmp", out));
    }
    // Dropped from the file too, not only in the warning.
    EXPECT_TRUE(has(orveln("info o.gif").out, "transparency: none"));
}

struct inspect_case {
    const char *name;
    const char *make; // shell commands run in the test folder, which holds grey.tif, rgb.tif, a.gif, i.gif
    const char *files;
    const char *expected; // what info says, each part ending with '|'
    int exit_code;
};

using tool_inspect = orveln_table<inspect_case>;

// info describes what convert writes, and the files it refuses from their tags and libtiff's own
// decoding; it goes through every file it is given and fails at the end if one was bad; it takes
// little memory whatever the tags promise.
TEST_P(tool_inspect, DescribesEveryKindOfFile)
{
    const inspect_case &c = GetParam();
    spit(at("grey.bmp"), host::write_bmp(in_grey(sample(8, 50, 40))));
    spit(at("rgb.bmp"), host::write_bmp(sample(24, 50, 40)));
    for (const auto &[in, out, options] : {std::tuple{"grey.bmp", "grey.tif", ""},
                                           {"rgb.bmp", "rgb.tif", ""},
                                           {"rgb.bmp", "a.gif", ""},
                                           {"rgb.bmp", "i.gif", "--interlace --transparent 7"}})
        ASSERT_TRUE(ok(convert(in, out, options)));
    ASSERT_TRUE(ok(shell(c.make)));
    // AddressSanitizer reserves terabytes of address space for its shadow, so a limit on address
    // space stops an instrumented tool starting; its own cap on one allocation catches the same fault.
    const std::string limit = "ulimit -v 400000; ";
    const std::string memory_cap =
        shell(limit + quote(ORVELN_TOOL) + " --version").exit_code == 0
            ? limit
            : "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=400\"; ";
    const fs::path crashers = fs::path(__FILE__).parent_path() / "../data/crashers/tool_tiff_fuzzer";
    const run_result r =
        shell("crashers=" + quote(crashers) + " && " + memory_cap + quote(ORVELN_TOOL) + " info " + c.files);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
    const std::string expected = c.expected, said = r.out + r.err;
    for (std::size_t at = 0, bar; (bar = expected.find('|', at)) != std::string::npos; at = bar + 1)
        EXPECT_TRUE(has(said, expected.substr(at, bar - at))) << "of: " << expected.substr(at);
    EXPECT_FALSE(has(r.out, "palette")) << "none of these is a palette image";
}

const inspect_case inspections[] = {
    {"grey", "true", "grey.tif", "TIFF|8-bit grey|1 strip of 40 rows|compression LZW|40 of 40 rows complete|", 0},
    {"tiles", "tiffcp -c lzw -t -w 16 -l 16 grey.tif tiled.tif", "tiled.tif",
     "8-bit grey|tiles of 16x16|of 12 tiles complete|", 0},
    {"planes", "tiffcp -c lzw -p separate rgb.tif planar.tif", "planar.tif", "8-bit RGB|one plane per sample|", 0},
    {"sixteen_bit",
     "/usr/bin/python3 -c \"from PIL import Image; Image.new('I;16', (30, 20), 4000)"
     ".save('g16.tif', compression='tiff_lzw')\"",
     "g16.tif", "16-bit grey|20 of 20 rows complete|", 0},
    {"cmyk",
     "/usr/bin/python3 -c \"from PIL import Image; Image.new('CMYK', (30, 20), (1, 2, 3, 4))"
     ".save('c.tif', compression='tiff_lzw')\"",
     "c.tif", "CMYK|", 0},
    {"pages", "tiffcp grey.tif rgb.tif pages.tif", "pages.tif", "2 pages|page 1:|8-bit RGB|", 0},
    // The second page's ImageLength made 0: the chain still counts two directories, but libtiff
    // refuses to read the second.
    {"damaged_page", "tiffcp grey.tif rgb.tif bad.tif && tiffset -d 1 -s 257 0 bad.tif", "bad.tif",
     "2 pages|page 0:|8-bit grey|page 1: damaged directory, cannot be read|", 1},
    {"damaged_gif", "head -c $(($(stat -c %s a.gif) - 40)) a.gif > cut.gif", "cut.gif",
     "image 0: 50x40|of 40 rows complete|damaged|", 1},
    {"gif", "true", "i.gif",
     "GIF|global colour table|1 image|image 0: 50x40|; interlaced; transparency: index 7|ratio|", 0},
    {"bmp", "true", "rgb.bmp", "BMP|50x40|", 0},
    // A few hundred bytes whose tags promise strips of gigabytes: 1.7 GB in one strip (and a damaged
    // second directory), 1.8 GB guessed by libtiff without byte counts.
    {"huge_strip", "true", "$crashers/info-strip-buffer-sized-by-tags", "0 of 65302 rows complete|", 1},
    {"huge_guessed_strip", "true", "$crashers/info-strip-without-byte-counts", "0 of 23 rows complete|", 0},
    {"many", "mkdir folder && echo hi > text.txt", "a.gif missing.gif folder text.txt grey.tif",
     "a.gif: GIF|missing.gif|folder|text.txt|grey.tif: TIFF|", 1}};

INSTANTIATE_TEST_SUITE_P(kinds, tool_inspect, testing::ValuesIn(inspections), row_name);

// PNG colour types besides those of the tool's own PNGs (which the stream tests read, as they read
// Pillow's JPEG), as Pillow writes them: read as Pillow reads them, and what the tool writes from them
// reads the same in Pillow again (alpha included where the format has it).
TEST_F(orveln_cli, PngReadAsPillowReadsIt)
{
    const std::string make = R"(
w, h = 37, 23
rgba = Image.new('RGBA', (w, h))
rgba.putdata([(x * 7 % 256, y * 11 % 256, (x * y) % 256, (x * 13 + y) % 256) for y in range(h) for x in range(w)])
rgba.save(d + '/rgba.png')
rgba.convert('LA').save(d + '/greyalpha.png')
rgba.convert('RGB').quantize(16).save(d + '/ptrans.png', transparency=3)
Image.new('I;16', (w, h), 1000).save(d + '/g16.png')
)";
    ASSERT_TRUE(ok(python(make)));
    // Each input, and whether it has alpha for the formats that keep it (BMP does not).
    const std::pair<std::string, bool> inputs[] = {{"rgba.png", true}, {"greyalpha.png", true}, {"ptrans.png", false}};
    for (const auto &[in, alpha] : inputs)
        for (const std::string ext : {"png", "tif", "bmp"}) {
            ASSERT_TRUE(ok(convert(in, in + "." + ext))) << ext;
            EXPECT_TRUE(same_in_pillow(in, in + "." + ext, alpha && ext != "bmp" ? "RGBA" : "RGB"));
        }
    const run_result g16 = convert("g16.png", "g16.tif");
    EXPECT_TRUE(ok(g16) && has(g16.err, "16-bit")) << g16.err;

    // Alpha stays alpha in TIFF (unassociated) and comes back out of it; GIF drops it aloud.
    EXPECT_TRUE(has(shell("tiffinfo rgba.png.tif").out, "unassoc-alpha"));
    ASSERT_TRUE(ok(convert("rgba.png.tif", "back.png")));
    EXPECT_TRUE(same_in_pillow("rgba.png", "back.png", "RGBA"));
    const run_result gif = convert("rgba.png", "rgba.gif");
    EXPECT_TRUE(ok(gif) && has(gif.err, "alpha")) << "dropping alpha is said: " << gif.err;
}

struct reduction_case {
    const char *name;
    const char *options;
    int most_colours;
    double mean_error; // largest mean absolute difference per sample
};

using tool_reduction = orveln_table<reduction_case>;

// A photo of thousands of colours becomes a GIF of at most N colours, more than N / 2 of them used,
// that stays close to it.
TEST_P(tool_reduction, PhotoBecomesAGifCloseToIt)
{
    const reduction_case &c = GetParam();
    spit(at("photo.bmp"), host::write_bmp(photo_like(120, 90)));
    ASSERT_TRUE(ok(convert("photo.bmp", "o.gif", c.options)));
    const run_result m = python(R"(
a = list(Image.open(d + '/photo.bmp').convert('RGB').getdata())
b = list(Image.open(d + '/o.gif').convert('RGB').getdata())
colours, most = len(set(b)), int(sys.argv[2])
error = sum(abs(p - q) for u, v in zip(a, b) for p, q in zip(u, v)) / (3.0 * len(a))
print(colours, 'colours, mean error', error)
sys.exit(0 if most // 2 < colours <= most and error < float(sys.argv[3]) else 1)
)",
                                std::to_string(c.most_colours) + " " + std::to_string(c.mean_error));
    EXPECT_TRUE(ok(m));
}

INSTANTIATE_TEST_SUITE_P(options, tool_reduction,
                         testing::Values(reduction_case{"dithered", "", 256, 5.0},
                                         reduction_case{"plain", "--no-dither", 256, 5.0},
                                         reduction_case{"sixteen", "--colors=16", 16, 18.0},
                                         reduction_case{"two", "--colors 2 --no-dither", 2, 60.0}),
                         row_name);

// --image picks a GIF image or a TIFF page; without it the tool says it converts only the first.
TEST_F(orveln_cli, ImageOptionPicksAnImageOrAPage)
{
    const std::string make = R"(
frames = [Image.new('RGB', (20, 10), c) for c in ((200, 0, 0), (0, 200, 0), (0, 0, 200))]
for i, f in enumerate(frames):
    f.putpixel((i, i), (255, 255, 255))
frames[0].save(d + '/anim.gif', save_all=True, append_images=frames[1:], duration=50, disposal=1)
frames[0].save(d + '/pages.tif', save_all=True, append_images=frames[1:], compression='tiff_lzw')
frames[2].save(d + '/third.bmp')
)";
    ASSERT_TRUE(ok(python(make)));
    for (const std::string file : {"anim.gif", "pages.tif"}) {
        run_result r = convert(file, "first.png");
        EXPECT_TRUE(ok(r) && has(r.err, "holds 3")) << r.err;
        r = orveln("convert " + file + " -o third.png --image=2");
        ASSERT_TRUE(ok(r) && r.err.empty()) << r.err;
        EXPECT_TRUE(same_in_pillow("third.bmp", "third.png")) << file;
        r = convert(file, "none.png", "--image 3");
        EXPECT_TRUE(r.exit_code == 1 && has(r.err, "there is no")) << "exit " << r.exit_code << ": " << r.err;
    }
}

// Corpus files read in ways that convert -v and info name (their pixels are checked with the rest of
// the corpus): old-style LZW strips by libtiff's decoder, GIF data without a clear code in front.
TEST_F(orveln_cli, UnusualLzwIsReadAndNamed)
{
    ORVELN1_NEED_CORPUS();
    for (const auto &[rel, note] : {std::pair{"tiff/libtiff-quad-lzw-compat.tif", "old-style LZW from before TIFF 6.0"},
                                    {"gif/pygif-no-clear.gif", "does not begin with a clear code"}}) {
        const fs::path file = fs::path(orveln1::test::shared_corpus().dir) / rel;
        const run_result r = convert(file, "o.png", "-v -f");
        ASSERT_TRUE(ok(r));
        EXPECT_TRUE(has(r.err, note));
        EXPECT_TRUE(has(orveln("info " + quote(file)).out, note)) << rel;
    }
}

struct cli_case {
    const char *name;
    const char *args; // run in the test's folder
    int exit_code;
    const char *message;   // in what the tool prints; where it begins on success
    bool terminal = false; // standard output is a terminal
};

using tool_command_line = orveln_table<cli_case>;

// A refusal is one line and writes nothing; with standard output a terminal, the line is on the
// terminal too.
TEST_P(tool_command_line, FollowsTheCommonConventions)
{
    const cli_case &c = GetParam();
    spit(at("in.bmp"), host::write_bmp(sample(24, 30, 20)));
    spit(at("-dash.bmp"), host::write_bmp(sample(24, 30, 20)));
    fs::create_directories(at("folder"));
    const std::string command = quote(ORVELN_TOOL) + " " + c.args;
    const run_result r = shell(c.terminal ? on_terminal(command) : command);
    const std::string said = r.out + r.err;
    EXPECT_EQ(r.exit_code, c.exit_code) << said;
    EXPECT_TRUE(has(said, c.message));
    EXPECT_EQ(fs::exists(at("out.tif")), c.exit_code == 0 && std::string_view(c.args).starts_with("convert"));
    // Success begins with the message; a refusal is one line.
    EXPECT_TRUE(c.exit_code == 0 ? said.starts_with(c.message) : std::count(said.begin(), said.end(), '\n') == 1)
        << said;
    EXPECT_FALSE(temporary_left());
}

const cli_case conventions[] = {
    {"attached_value", "convert in.bmp out.tif --threads=2 --to=tif", 0, ""},
    {"output_option", "convert -o out.tif in.bmp", 0, ""},
    {"double_dash", "convert -- -dash.bmp out.tif", 0, ""},
    {"help", "--help", 0, "usage: orveln"},
    {"version", "--version", 0, "orveln " ORVELN1_VERSION_STRING "\n"},
    {"three_operands", "convert in.bmp out.tif extra", 2, "convert wants exactly IN and OUT, got 3"},
    {"output_and_two", "convert -o out.tif in.bmp extra", 2, "got 2"},
    {"flag_with_value", "convert in.bmp out.tif --force=yes", 2, "takes no value"},
    {"gif_option_for_tiff", "convert in.bmp out.tif --colors 8", 2, "GIF output only"},
    {"no_command", "", 2, "no command given"},
    {"unknown_command", "frobnicate", 2, "unknown command"},
    {"unknown_format", "convert a b --to jpg", 2, "not 'jpg'"},
    {"unknown_extension", "convert a b.xyz", 2, "cannot tell the output format"},
    {"no_threads", "convert a b.gif --threads 0", 2, "not '0'"},
    {"info_without_files", "info", 2, "at least one FILE"},
    {"stdout_needs_to", "convert in.bmp -", 2, "standard output needs --to"},
    // Folders are refused with one line naming them, never an uncaught exception.
    {"folder_in", "convert folder out.tif", 1, "folder"},
    {"folder_out", "convert in.bmp folder --to tif", 1, "folder"},
    {"missing_folder_out", "convert in.bmp no/such/dir/out.tif", 1, "no/such/dir/out.tif"},
    {"terminal", "convert in.bmp - --to gif", 2, "will not write a binary image to a terminal", true}};

INSTANTIATE_TEST_SUITE_P(conventions, tool_command_line, testing::ValuesIn(conventions), row_name);

} // namespace
