// SPDX-License-Identifier: MIT
// The orveln tool's promises to its users, run as a subprocess: one-line failures for folders,
// nothing left behind by a signal, links and protected files respected, transparency kept or
// dropped aloud, info over many files, PNG, JPEG, colour reduction, images and pages, and the
// command-line conventions.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tool_fixture.hpp"

using namespace tool_test;

namespace
{

std::string in_quotes(const fs::path &p)
{
    return quote(p.string());
}

// Folders are refused with one line naming them, never an uncaught exception.
TEST_F(orveln_cli, FolderGivesOneLineAndExitOne)
{
    fs::create_directories(at("folder"));
    spit(at("in.bmp"), host::write_bmp(sample(8, 10, 10)));
    for (const std::string &args :
         {"convert " + in_quotes(at("folder")) + " " + in_quotes(at("out.tif")), "info " + in_quotes(at("folder")),
          "convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("folder")) + " --to tif"}) {
        const run_result r = orveln(args);
        EXPECT_EQ(r.exit_code, 1) << args << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << r.err;
        EXPECT_NE(r.err.find("folder"), std::string::npos) << args << r.err;
    }
    EXPECT_FALSE(fs::exists(at("out.tif")));
    EXPECT_FALSE(temporary_left());
}

class tool_signal : public orveln_cli, public testing::WithParamInterface<int>
{
};

// A signal during the write removes the temporary file and ends the tool by that signal.
TEST_P(tool_signal, DuringTheWriteLeavesNothingBehind)
{
    const int sig = GetParam();
    spit(at("big.bmp"), host::write_bmp(photo_like(3000, 3000)));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(sig, SIG_DFL);
        const std::string in = at("big.bmp").string();
        const std::string out = at("out.tif").string();
        ::execl(ORVELN_TOOL, "orveln", "convert", in.c_str(), out.c_str(), "--threads", "1",
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < give_up) {
        seen = temporary_left();
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (seen)
        ::kill(child, sig);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!seen)
        GTEST_SKIP() << "the conversion ended before its temporary file was seen";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_FALSE(temporary_left());
    EXPECT_FALSE(fs::exists(at("out.tif")));
}

INSTANTIATE_TEST_SUITE_P(fatal, tool_signal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int> &i) { return std::to_string(i.param); });

TEST_F(orveln_cli, FileSizeLimitDuringTheWriteLeavesNothingBehind)
{
    spit(at("big.bmp"), host::write_bmp(photo_like(1000, 1000)));
    const run_result r = shell("ulimit -f 100; exec " + quote(ORVELN_TOOL) + " convert " + in_quotes(at("big.bmp")) +
                               " " + in_quotes(at("out.tif")));
    EXPECT_EQ(r.exit_code, 128 + SIGXFSZ) << r.err;
    EXPECT_FALSE(temporary_left());
    EXPECT_FALSE(fs::exists(at("out.tif")));
}

// Converting onto a symbolic link replaces what it points to and keeps the link, as cp does.
TEST_F(orveln_cli, SymbolicLinkIsWrittenThrough)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 30, 20)));
    ASSERT_EQ(orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("direct.tif"))).exit_code, 0);
    fs::create_directories(at("real"));
    spit(at("real/target.tif"), std::vector<uint8_t>{'o', 'l', 'd'});
    fs::create_symlink("real/target.tif", at("link.tif"));
    fs::create_symlink("real/new.tif", at("dangling.tif"));
    for (const char *link : {"link.tif", "dangling.tif"}) {
        const run_result r = orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at(link)));
        ASSERT_EQ(r.exit_code, 0) << link << r.err;
        EXPECT_TRUE(fs::is_symlink(at(link))) << link;
    }
    EXPECT_EQ(slurp(at("real/target.tif")), slurp(at("direct.tif")));
    EXPECT_EQ(slurp(at("real/new.tif")), slurp(at("direct.tif")));
}

// A file without write permission is refused unless --force, and keeps its mode when replaced.
TEST_F(orveln_cli, WriteProtectedTargetNeedsForce)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 30, 20)));
    spit(at("keep.gif"), std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    fs::permissions(at("keep.gif"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    run_result r = orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("keep.gif")));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("keep.gif"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(at("keep.gif")), "keep");
    for (const char *force : {"--force", "-f"}) {
        r = orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("keep.gif")) + " " + force);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(slurp(at("keep.gif")).rfind("GIF8", 0), 0u);
        EXPECT_EQ(fs::status(at("keep.gif")).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
}

struct transparency_case {
    const char *name;
    int depth;
};

class tool_transparency : public orveln_cli, public testing::WithParamInterface<transparency_case>
{
};

// --transparent survives the reduction of a truecolour picture to a palette.
TEST_P(tool_transparency, IndexIsKeptFromTruecolourInput)
{
    spit(at("in.bmp"), host::write_bmp(sample(GetParam().depth, 40, 30)));
    ASSERT_EQ(
        orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("t.gif")) + " --transparent 2").exit_code, 0);
    EXPECT_EQ(slurp(at("t.gif")).substr(0, 6), "GIF89a");
    const run_result r = orveln("info " + in_quotes(at("t.gif")));
    EXPECT_NE(r.out.find("transparency: index 2"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(depths, tool_transparency,
                         testing::Values(transparency_case{"rgb24", 24}, transparency_case{"rgb32", 32},
                                         transparency_case{"palette8", 8}, transparency_case{"palette4", 4}),
                         [](const testing::TestParamInfo<transparency_case> &i) { return std::string(i.param.name); });

// A graphic control extension naming an index outside the colour table: the picture converts to
// every format, and the impossible transparency is dropped with a warning.
TEST_F(orveln_cli, OutOfRangeTransparentIndexIsDroppedAloud)
{
    const picture p = sample(4, 24, 16);
    spit(at("in.bmp"), host::write_bmp(p));
    ASSERT_EQ(
        orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("t.gif")) + " --transparent 3").exit_code, 0);
    std::vector<uint8_t> gif = slurp_bytes(at("t.gif"));
    const uint8_t label[] = {0x21, 0xF9, 4};
    const auto gce = std::search(gif.begin(), gif.end(), std::begin(label), std::end(label));
    ASSERT_NE(gce, gif.end());
    gce[6] = 200; // the table has 16 entries
    spit(at("odd.gif"), gif);
    for (const char *out : {"o.gif", "o.bmp", "o.tif", "o.png"}) {
        const run_result r = orveln("convert " + in_quotes(at("odd.gif")) + " " + in_quotes(at(out)));
        ASSERT_EQ(r.exit_code, 0) << out << r.err;
        EXPECT_NE(r.err.find("transparency dropped"), std::string::npos) << out << r.err;
        ASSERT_EQ(orveln("convert " + in_quotes(at(out)) + " " + in_quotes(at("back.bmp")) + " -f").exit_code, 0);
        EXPECT_EQ(colours_of(host::read_bmp(slurp_bytes(at("back.bmp")))), colours_of(p)) << out;
    }
}

// Refusals about what the input holds name the input, not the output.
TEST_F(orveln_cli, InputProblemsNameTheInput)
{
    spit(at("rich.bmp"), host::write_bmp(photo_like(64, 64)));
    spit(at("bits.bmp"), host::write_bmp(sample(1, 64, 64)));
    for (const std::string &args : {in_quotes(at("rich.bmp")) + " " + in_quotes(at("out.gif")) + " --exact",
                                    in_quotes(at("bits.bmp")) + " " + in_quotes(at("out.tif")) + " --predictor"}) {
        const run_result r = orveln("convert " + args);
        EXPECT_EQ(r.exit_code, 1) << args;
        EXPECT_NE(r.err.find(".bmp:"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("out."), std::string::npos) << r.err;
    }
}

// info reads every file it is given, says what it can of the bad ones and fails at the end.
TEST_F(orveln_cli, InfoGoesThroughEveryFileAndFailsAtTheEnd)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 20, 20)));
    ASSERT_EQ(orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("a.gif"))).exit_code, 0);
    ASSERT_EQ(orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("b.tif"))).exit_code, 0);
    spit(at("text.txt"), std::vector<uint8_t>{'h', 'i'});
    fs::create_directories(at("folder"));
    const run_result r =
        orveln("info " + in_quotes(at("a.gif")) + " " + in_quotes(at("missing.gif")) + " " + in_quotes(at("folder")) +
               " " + in_quotes(at("text.txt")) + " " + in_quotes(at("b.tif")));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("a.gif: GIF"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("b.tif: TIFF"), std::string::npos) << r.out;
    for (const char *bad : {"missing.gif", "folder", "text.txt"})
        EXPECT_NE(r.err.find(bad), std::string::npos) << bad << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
}

struct inspect_case {
    const char *name;
    const char *make; // shell commands run in the test folder, which holds grey.tif, rgb.tif, a.gif
    const char *file;
    std::vector<const char *> expected;
    int exit_code;
};

void PrintTo(const inspect_case &c, std::ostream *os)
{
    *os << c.name;
}

class tool_inspect : public orveln_cli, public testing::WithParamInterface<inspect_case>
{
};

// info describes the files convert refuses, from their tags and libtiff's own decoding.
TEST_P(tool_inspect, DescribesWhatConvertRefuses)
{
    const inspect_case &c = GetParam();
    picture grey = make_picture(50, 40, 8);
    for (int i = 0; i < 256; ++i)
        grey.palette.push_back(colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 50; ++x)
            grey.row(y)[x] = static_cast<uint8_t>(x * 5 + y);
    spit(at("grey.bmp"), host::write_bmp(grey));
    spit(at("rgb.bmp"), host::write_bmp(sample(24, 50, 40)));
    for (const char *f : {"grey.tif", "rgb.tif", "a.gif"})
        ASSERT_EQ(orveln("convert " + in_quotes(at(std::string(f) == "grey.tif" ? "grey.bmp" : "rgb.bmp")) + " " +
                         in_quotes(at(f)))
                      .exit_code,
                  0);
    const run_result made = shell("cd " + in_quotes(dir_) + " && " + c.make);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const run_result r = orveln("info " + in_quotes(at(c.file)));
    EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
    for (const char *e : c.expected)
        EXPECT_NE(r.out.find(e), std::string::npos) << e << "\n" << r.out;
    EXPECT_EQ(r.out.find("palette"), std::string::npos) << "none of these is a palette image: " << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    kinds, tool_inspect,
    testing::Values(
        inspect_case{"grey", "true", "grey.tif", {"8-bit grey", "1 strip of 40 rows", "40 of 40 rows complete"}, 0},
        inspect_case{"tiles",
                     "tiffcp -c lzw -t -w 16 -l 16 grey.tif tiled.tif",
                     "tiled.tif",
                     {"8-bit grey", "tiles of 16x16", "of 12 tiles complete"},
                     0},
        inspect_case{"planes",
                     "tiffcp -c lzw -p separate rgb.tif planar.tif",
                     "planar.tif",
                     {"8-bit RGB", "one plane per sample"},
                     0},
        inspect_case{"sixteen_bit",
                     "/usr/bin/python3 -c \"from PIL import Image; Image.new('I;16', (30, 20), 4000)"
                     ".save('g16.tif', compression='tiff_lzw')\"",
                     "g16.tif",
                     {"16-bit grey", "20 of 20 rows complete"},
                     0},
        inspect_case{"cmyk",
                     "/usr/bin/python3 -c \"from PIL import Image; Image.new('CMYK', (30, 20), (1, 2, 3, 4))"
                     ".save('c.tif', compression='tiff_lzw')\"",
                     "c.tif",
                     {"CMYK"},
                     0},
        inspect_case{"pages", "tiffcp grey.tif rgb.tif pages.tif", "pages.tif", {"2 pages", "page 1:", "8-bit RGB"}, 0},
        inspect_case{"damaged_gif",
                     "head -c $(($(stat -c %s a.gif) - 40)) a.gif > cut.gif",
                     "cut.gif",
                     {"image 0: 50x40", "of 40 rows complete", "damaged"},
                     1},
        inspect_case{"gif", "cp a.gif p.gif", "p.gif", {"global colour table", "1 image"}, 0}),
    [](const testing::TestParamInfo<inspect_case> &i) { return std::string(i.param.name); });

struct predictor_case {
    const char *name;
    int depth;
    bool grey;
    const char *options;
    bool predicted;
};

class tool_predictor : public orveln_cli, public testing::WithParamInterface<predictor_case>
{
};

// Predictor 2 by default where neighbouring samples are alike, never on palette indices.
TEST_P(tool_predictor, DefaultFollowsTheKindOfSamples)
{
    const predictor_case &c = GetParam();
    picture p = sample(c.depth, 61, 33);
    if (c.grey)
        for (int i = 0; i < 256; ++i)
            p.palette[static_cast<std::size_t>(i)] =
                colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
    spit(at("in.bmp"), host::write_bmp(p));
    ASSERT_EQ(orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("o.tif")) + " " + c.options).exit_code,
              0);
    const run_result info = shell("tiffinfo " + in_quotes(at("o.tif")));
    EXPECT_EQ(info.out.find("horizontal differencing") != std::string::npos, c.predicted) << info.out;
    ASSERT_EQ(orveln("convert " + in_quotes(at("o.tif")) + " " + in_quotes(at("back.bmp"))).exit_code, 0);
    EXPECT_EQ(colours_of(host::read_bmp(slurp_bytes(at("back.bmp")))), colours_of(p));
}

INSTANTIATE_TEST_SUITE_P(kinds, tool_predictor,
                         testing::Values(predictor_case{"rgb", 24, false, "", true},
                                         predictor_case{"rgbx", 32, false, "", true},
                                         predictor_case{"grey", 8, true, "", true},
                                         predictor_case{"palette", 8, false, "", false},
                                         predictor_case{"rgb_off", 24, false, "--no-predictor", false},
                                         predictor_case{"palette_on", 8, false, "--predictor", true},
                                         predictor_case{"bilevel", 1, false, "", false}),
                         [](const testing::TestParamInfo<predictor_case> &i) { return std::string(i.param.name); });

// Pictures Pillow writes in every PNG colour type, and a JPEG, read as Pillow reads them; what the
// tool writes from them reads the same in Pillow again (alpha included where the format has it).
TEST_F(orveln_cli, PngAndJpegReadAsPillowReadsThem)
{
    const std::string make = R"(
import sys
from PIL import Image
d = sys.argv[1]
w, h = 37, 23
rgba = Image.new('RGBA', (w, h))
rgba.putdata([(x * 7 % 256, y * 11 % 256, (x * y) % 256, (x * 13 + y) % 256) for y in range(h) for x in range(w)])
rgba.save(d + '/rgba.png')
rgba.convert('RGB').save(d + '/rgb.png')
rgba.convert('L').save(d + '/grey.png')
rgba.convert('LA').save(d + '/greyalpha.png')
rgba.convert('1').save(d + '/bits.png')
p = rgba.convert('RGB').quantize(16)
p.save(d + '/p4.png', bits=4)
p.info['transparency'] = 3
p.save(d + '/ptrans.png', transparency=3)
Image.new('I;16', (w, h), 1000).save(d + '/g16.png')
rgba.convert('RGB').save(d + '/photo.jpg', quality=90)
)";
    ASSERT_EQ(python(make).exit_code, 0);
    const char *inputs[] = {"rgba.png", "rgb.png", "grey.png",   "greyalpha.png",
                            "bits.png", "p4.png",  "ptrans.png", "photo.jpg"};
    for (const char *in : inputs)
        for (const char *ext : {"png", "tif", "bmp"}) {
            const std::string out = std::string(in) + "." + ext;
            const run_result r = orveln("convert " + in_quotes(at(in)) + " " + in_quotes(at(out)));
            ASSERT_EQ(r.exit_code, 0) << out << r.err;
        }
    const run_result g16 = orveln("convert " + in_quotes(at("g16.png")) + " " + in_quotes(at("g16.tif")));
    EXPECT_EQ(g16.exit_code, 0);
    EXPECT_NE(g16.err.find("16-bit"), std::string::npos) << g16.err;

    const std::string check = R"(
import sys
from PIL import Image
d = sys.argv[1]
bad = []
for src in sys.argv[2:]:
    a = Image.open(d + '/' + src)
    alpha = a.mode in ('RGBA', 'LA') or 'transparency' in a.info and a.mode != 'P'
    for ext in ('png', 'tif', 'bmp'):
        b = Image.open(d + '/' + src + '.' + ext)
        mode = 'RGBA' if alpha and ext != 'bmp' else 'RGB'
        if list(a.convert(mode).getdata()) != list(b.convert(mode).getdata()):
            bad.append(src + '.' + ext)
print(' '.join(bad))
sys.exit(1 if bad else 0)
)";
    std::string names;
    for (const char *in : inputs)
        names += std::string(in) + " ";
    const run_result r = python(check, names);
    EXPECT_EQ(r.exit_code, 0) << "differ: " << r.out << r.err;
}

struct reduction_case {
    const char *name;
    const char *options;
    int most_colours;
    double mean_error; // largest mean absolute difference per sample
};

class tool_reduction : public orveln_cli, public testing::WithParamInterface<reduction_case>
{
};

// A photo of thousands of colours becomes a GIF of at most N colours that stays close to it.
TEST_P(tool_reduction, PhotoBecomesAGifCloseToIt)
{
    const reduction_case &c = GetParam();
    spit(at("photo.bmp"), host::write_bmp(photo_like(120, 90)));
    const run_result r =
        orveln("convert " + in_quotes(at("photo.bmp")) + " " + in_quotes(at("o.gif")) + " " + c.options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string check = R"(
import sys
from PIL import Image
d = sys.argv[1]
a = list(Image.open(d + '/photo.bmp').convert('RGB').getdata())
g = Image.open(d + '/o.gif')
b = list(g.convert('RGB').getdata())
colours = len(set(b))
error = sum(abs(p - q) for u, v in zip(a, b) for p, q in zip(u, v)) / (3.0 * len(a))
print(colours, error)
)";
    const run_result m = python(check);
    ASSERT_EQ(m.exit_code, 0) << m.err;
    int colours = 0;
    double error = 0;
    ASSERT_EQ(std::sscanf(m.out.c_str(), "%d %lf", &colours, &error), 2) << m.out;
    EXPECT_LE(colours, c.most_colours);
    EXPECT_GT(colours, c.most_colours / 2) << "the palette should be used";
    EXPECT_LT(error, c.mean_error);
}

INSTANTIATE_TEST_SUITE_P(options, tool_reduction,
                         testing::Values(reduction_case{"dithered", "", 256, 5.0},
                                         reduction_case{"plain", "--no-dither", 256, 5.0},
                                         reduction_case{"sixteen", "--colors=16", 16, 18.0},
                                         reduction_case{"two", "--colors 2 --no-dither", 2, 60.0}),
                         [](const testing::TestParamInfo<reduction_case> &i) { return std::string(i.param.name); });

// --image picks a GIF image or a TIFF page; without it the tool says it converts only the first.
TEST_F(orveln_cli, ImageOptionPicksAnImageOrAPage)
{
    const std::string make = R"(
import sys
from PIL import Image
d = sys.argv[1]
frames = [Image.new('RGB', (20, 10), c) for c in ((200, 0, 0), (0, 200, 0), (0, 0, 200))]
for i, f in enumerate(frames):
    f.putpixel((i, i), (255, 255, 255))
frames[0].save(d + '/anim.gif', save_all=True, append_images=frames[1:], duration=50, disposal=1)
for i, f in enumerate(frames):
    f.save(d + '/page%d.tif' % i, compression='tiff_lzw')
)";
    ASSERT_EQ(python(make).exit_code, 0);
    ASSERT_EQ(shell("tiffcp " + in_quotes(at("page0.tif")) + " " + in_quotes(at("page1.tif")) + " " +
                    in_quotes(at("page2.tif")) + " " + in_quotes(at("pages.tif")))
                  .exit_code,
              0);
    for (const char *file : {"anim.gif", "pages.tif"}) {
        run_result r = orveln("convert " + in_quotes(at(file)) + " " + in_quotes(at("first.png")));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.err.find("holds 3"), std::string::npos) << r.err;
        r = orveln("convert " + in_quotes(at(file)) + " -o " + in_quotes(at("third.png")) + " --image=2");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        const run_result same = python(R"(
import sys
from PIL import Image
d = sys.argv[1]
a = Image.open(d + '/page2.tif').convert('RGB')
b = Image.open(d + '/third.png').convert('RGB')
sys.exit(0 if list(a.getdata()) == list(b.getdata()) else 1)
)");
        EXPECT_EQ(same.exit_code, 0) << file;
        r = orveln("convert " + in_quotes(at(file)) + " " + in_quotes(at("none.png")) + " --image 3");
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("there is no"), std::string::npos) << r.err;
    }
}

// Alpha read from PNG stays alpha in TIFF (unassociated), and comes back out of it.
TEST_F(orveln_cli, AlphaStaysAlphaInTiff)
{
    ASSERT_EQ(python(R"(
import sys
from PIL import Image
d = sys.argv[1]
a = Image.new('RGBA', (9, 7))
a.putdata([(x * 20, y * 30, 90, (x * 31 + y * 7) % 256) for y in range(7) for x in range(9)])
a.save(d + '/a.png')
)")
                  .exit_code,
              0);
    ASSERT_EQ(orveln("convert " + in_quotes(at("a.png")) + " " + in_quotes(at("a.tif"))).exit_code, 0);
    EXPECT_NE(shell("tiffinfo " + in_quotes(at("a.tif"))).out.find("unassoc-alpha"), std::string::npos);
    ASSERT_EQ(orveln("convert " + in_quotes(at("a.tif")) + " " + in_quotes(at("b.png"))).exit_code, 0);
    EXPECT_EQ(python(R"(
import sys
from PIL import Image
d = sys.argv[1]
a, b = Image.open(d + '/a.png'), Image.open(d + '/b.png')
sys.exit(0 if b.mode == 'RGBA' and list(a.getdata()) == list(b.getdata()) else 1)
)")
                  .exit_code,
              0);
    const run_result gif = orveln("convert " + in_quotes(at("a.png")) + " " + in_quotes(at("a.gif")));
    EXPECT_EQ(gif.exit_code, 0);
    EXPECT_NE(gif.err.find("alpha"), std::string::npos) << "dropping alpha is said: " << gif.err;
}

// Image data whose first code is not a clear code: the tool reads it as giflib and Pillow do.
TEST_F(orveln_cli, GifDataWithoutAnInitialClearCodeIsRead)
{
    const picture p = sample(8, 45, 31);
    spit(at("in.bmp"), host::write_bmp(p));
    ASSERT_EQ(orveln("convert " + in_quotes(at("in.bmp")) + " " + in_quotes(at("a.gif"))).exit_code, 0);
    // Take the clear code off the front: join the sub-blocks, shift the bits down by one code
    // width, and split them again.
    const std::vector<uint8_t> gif = slurp_bytes(at("a.gif"));
    const std::size_t descriptor = 13 + 3 * 256;
    ASSERT_EQ(gif[descriptor], 0x2C);
    const std::size_t code_size_at = descriptor + 10;
    const int width = gif[code_size_at] + 1;
    std::vector<uint8_t> data;
    std::size_t at_block = code_size_at + 1;
    for (; gif[at_block] != 0; at_block += 1 + gif[at_block])
        data.insert(data.end(), gif.begin() + static_cast<std::ptrdiff_t>(at_block + 1),
                    gif.begin() + static_cast<std::ptrdiff_t>(at_block + 1 + gif[at_block]));
    std::vector<uint8_t> shifted;
    uint32_t buffer = 0;
    int held = -width;
    for (const uint8_t byte : data) {
        if (held < 0) {
            buffer = static_cast<uint32_t>(byte) >> -held;
            held += 8;
            continue;
        }
        buffer |= static_cast<uint32_t>(byte) << held;
        held += 8;
        while (held >= 8) {
            shifted.push_back(static_cast<uint8_t>(buffer));
            buffer >>= 8;
            held -= 8;
        }
    }
    if (held > 0)
        shifted.push_back(static_cast<uint8_t>(buffer));
    std::vector<uint8_t> out(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(code_size_at + 1));
    for (std::size_t i = 0; i < shifted.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, shifted.size() - i);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), shifted.begin() + static_cast<std::ptrdiff_t>(i),
                   shifted.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    out.insert(out.end(), {0, 0x3B});
    spit(at("noclear.gif"), out);

    const run_result r = orveln("convert " + in_quotes(at("noclear.gif")) + " " + in_quotes(at("back.bmp")) + " -v");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("does not begin with a clear code"), std::string::npos) << r.err;
    EXPECT_EQ(colours_of(host::read_bmp(slurp_bytes(at("back.bmp")))), colours_of(p));
    // giflib reads the same pixels from it.
    const run_result giflib = shell("gifbuild -d " + in_quotes(at("noclear.gif")) + " >/dev/null && gifclrmp " +
                                    in_quotes(at("noclear.gif")) + " > /dev/null");
    EXPECT_EQ(giflib.exit_code, 0) << giflib.err;
    EXPECT_EQ(python(R"(
import sys
from PIL import Image
d = sys.argv[1]
a, b = Image.open(d + '/noclear.gif').convert('RGB'), Image.open(d + '/in.bmp').convert('RGB')
sys.exit(0 if list(a.getdata()) == list(b.getdata()) else 1)
)")
                  .exit_code,
              0);
}

// Old-style LZW strips are read by libtiff's decoder, and both convert -v and info say so.
TEST_F(orveln_cli, OldStyleLzwStripsAreReadAndNamed)
{
    ORVELN1_NEED_CORPUS();
    const fs::path file = fs::path(orveln1::test::shared_corpus().dir) / "tiff" / "libtiff-quad-lzw-compat.tif";
    const run_result r = orveln("convert " + in_quotes(file) + " " + in_quotes(at("o.png")) + " -v");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("old-style LZW from before TIFF 6.0"), std::string::npos) << r.err;
    EXPECT_NE(orveln("info " + in_quotes(file)).out.find("old-style LZW from before TIFF 6.0"), std::string::npos);
    EXPECT_EQ(
        python("import sys\nfrom PIL import Image\nsys.exit(0 if Image.open(sys.argv[1] + '/o.png').convert('RGB')"
               ".tobytes() == Image.open('" +
               file.string() + "').convert('RGB').tobytes() else 1)\n")
            .exit_code,
        0);
}

struct cli_case {
    const char *name;
    const char *args; // IN stands for in.bmp, OUT for out.tif, both quoted
    int exit_code;
    const char *message; // in standard error
};

void PrintTo(const cli_case &c, std::ostream *os)
{
    *os << c.name;
}

class tool_command_line : public orveln_cli, public testing::WithParamInterface<cli_case>
{
};

TEST_P(tool_command_line, FollowsTheCommonConventions)
{
    const cli_case &c = GetParam();
    spit(at("in.bmp"), host::write_bmp(sample(24, 30, 20)));
    spit(at("-dash.bmp"), host::write_bmp(sample(24, 30, 20)));
    std::string args = c.args;
    for (const auto &[from, to] : {std::pair<std::string, std::string>{"IN", in_quotes(at("in.bmp"))},
                                   std::pair<std::string, std::string>{"OUT", in_quotes(at("out.tif"))}})
        for (std::size_t p = args.find(from); p != std::string::npos; p = args.find(from, p + to.size()))
            args.replace(p, from.size(), to);
    const run_result r = shell("cd " + in_quotes(dir_) + " && " + quote(ORVELN_TOOL) + " " + args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    if (c.exit_code == 0) {
        EXPECT_TRUE(fs::exists(at("out.tif")) || fs::exists(at("dash.tif")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    conventions, tool_command_line,
    testing::Values(cli_case{"attached_value", "convert IN OUT --threads=2 --to=tif", 0, ""},
                    cli_case{"output_option", "convert -o OUT IN", 0, ""},
                    cli_case{"output_option_long", "convert IN --output=OUT", 0, ""},
                    cli_case{"double_dash", "convert -- -dash.bmp dash.tif", 0, ""},
                    cli_case{"three_operands", "convert IN OUT extra", 2, "convert wants exactly IN and OUT, got 3"},
                    cli_case{"output_and_two", "convert -o OUT IN extra", 2, "got 2"},
                    cli_case{"flag_with_value", "convert IN OUT --force=yes", 2, "takes no value"},
                    cli_case{"gif_option_for_tiff", "convert IN OUT --colors 8", 2, "GIF output only"},
                    cli_case{"terminal", "script -qec \"$(printf %q " ORVELN_TOOL ") convert IN - --to gif\" /dev/null",
                             2, ""}),
    [](const testing::TestParamInfo<cli_case> &i) { return std::string(i.param.name); });

} // namespace
