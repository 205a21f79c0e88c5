// SPDX-License-Identifier: MIT
// The orveln tool run as a user runs it, as a subprocess: round trips for every kind of image,
// files checked by independent readers, the corpus, and bad input refused cleanly.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bmp_file.hpp"
#include "orveln1.hpp"
#include "support/corpus.hpp"

namespace fs = std::filesystem;
using namespace orveln1;
namespace host = orveln1::tool;

namespace
{

struct run_result {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> slurp_bytes(const fs::path &p)
{
    const std::string s = slurp(p);
    return std::vector<uint8_t>(s.begin(), s.end());
}

void spit(const fs::path &p, std::span<const uint8_t> data)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class orveln_cli : public testing::Test
{
  protected:
    void SetUp() override
    {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char &c : name)
            if (c == '/')
                c = '_';
        dir_ = fs::temp_directory_path() / ("orveln-tool-test-" + std::to_string(::getpid())) / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir_);
    }

    fs::path at(const std::string &name) const { return dir_ / name; }

    // Runs a shell command line; stdout and stderr are captured.
    run_result shell(const std::string &command) const
    {
        const fs::path out = dir_ / ".stdout";
        const fs::path err = dir_ / ".stderr";
        const int status = std::system(("(" + command + ") >" + quote(out) + " 2>" + quote(err)).c_str());
        run_result r;
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = slurp(out);
        r.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    run_result orveln(const std::string &args) const { return shell(quote(ORVELN_TOOL) + " " + args); }

    // The tool's failure contract: exit 1, one line "orveln: FILE: ...", and the named output absent.
    void expect_clean_failure(const run_result &r, const fs::path &output) const
    {
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_EQ(r.err.rfind("orveln: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(output));
        for (const auto &entry : fs::directory_iterator(output.parent_path()))
            EXPECT_EQ(entry.path().filename().string().find(".orveln-"), std::string::npos) << "temporary file left";
    }

    fs::path dir_;
};

// A picture of each kind the tool reads from BMP, with pixels that vary and repeat.
picture sample(int depth, int32_t width, int32_t height)
{
    picture p = make_picture(width, height, depth);
    if (depth <= 8)
        for (int i = 0; i < (1 << depth); ++i)
            p.palette.push_back(
                colour{static_cast<uint8_t>(i * 5), static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i)});
    const auto meaningful = static_cast<std::size_t>((int64_t{width} * depth + 7) / 8);
    for (int32_t y = 0; y < height; ++y)
        for (std::size_t i = 0; i < meaningful; ++i)
            p.row(y)[i] =
                static_cast<uint8_t>(depth >= 24 ? (i % 3 == 0 ? y / 8 * 30 : (i / 3) % 7 * 30) : (i + y / 4) * 37);
    if ((width * depth) % 8 != 0)
        for (int32_t y = 0; y < height; ++y)
            p.row(y)[meaningful - 1] &= static_cast<uint8_t>(0xFF << (8 - (width * depth) % 8));
    return p;
}

// The same pixels at 24 bits, blue-green-red, for comparing pictures across depths.
std::vector<uint8_t> colours_of(const picture &p)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t *row = p.row(y);
            if (p.depth >= 24) {
                const uint8_t *px = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(p.depth / 8);
                out.insert(out.end(), {px[0], px[1], px[2]});
                continue;
            }
            int index = p.depth == 8   ? row[x]
                        : p.depth == 4 ? (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15)
                                       : (row[x / 8] >> (7 - x % 8)) & 1;
            const colour c = static_cast<std::size_t>(index) < p.palette.size()
                                 ? p.palette[static_cast<std::size_t>(index)]
                                 : colour{};
            out.insert(out.end(), {c.blue, c.green, c.red});
        }
    return out;
}

struct round_trip_case {
    const char *name;
    int depth;
    const char *format;
    const char *options;
};

void PrintTo(const round_trip_case &c, std::ostream *os)
{
    *os << c.name;
}

class tool_round_trip : public orveln_cli, public testing::WithParamInterface<round_trip_case>
{
};

TEST_P(tool_round_trip, BmpThroughTheFormatAndBackKeepsEveryPixel)
{
    const round_trip_case c = GetParam();
    const picture original = sample(c.depth, 83, 61);
    spit(at("in.bmp"), host::write_bmp(original));
    const std::string mid = std::string("mid.") + c.format;
    run_result r = orveln("convert " + quote(at("in.bmp")) + " " + quote(at(mid)) + " " + c.options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty() && r.out.empty()) << "silent on success";
    r = orveln("convert " + quote(at(mid)) + " " + quote(at("back.bmp")));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const picture back = host::read_bmp(slurp_bytes(at("back.bmp")));
    EXPECT_EQ(colours_of(back), colours_of(original));
    if (std::string(c.format) != "gif" || c.depth != 1) { // GIF widens 1-bit pictures to 4 bits
        EXPECT_EQ(back.depth, c.depth <= 8 || std::string(c.format) != "gif" ? c.depth : 8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    every_kind, tool_round_trip,
    testing::Values(round_trip_case{"bmp1", 1, "bmp", ""}, round_trip_case{"bmp32", 32, "bmp", ""},
                    round_trip_case{"gif1", 1, "gif", ""}, round_trip_case{"gif4", 4, "gif", "--interlace"},
                    round_trip_case{"gif8", 8, "gif", ""}, round_trip_case{"gif8i", 8, "gif", "--interlace"},
                    round_trip_case{"gif24", 24, "gif", "--transparent 3"}, round_trip_case{"tif1", 1, "tif", ""},
                    round_trip_case{"tif4", 4, "tif", ""}, round_trip_case{"tif8", 8, "tif", ""},
                    round_trip_case{"tif8p", 8, "tif", "--predictor"}, round_trip_case{"tif24", 24, "tif", ""},
                    round_trip_case{"tif24p", 24, "tif", "--predictor --threads 1"},
                    round_trip_case{"tif32", 32, "tif", "--predictor"}),
    [](const testing::TestParamInfo<round_trip_case> &i) { return std::string(i.param.name); });

TEST_F(orveln_cli, TopDownBitmapReadsLikeBottomUp)
{
    const picture p = sample(8, 20, 9);
    std::vector<uint8_t> bmp = host::write_bmp(p);
    spit(at("up.bmp"), bmp);
    // Make it top-down: negative height and the rows reversed.
    const int32_t negative = -p.height;
    std::memcpy(bmp.data() + 22, &negative, 4);
    const std::size_t offset = bmp[10] | bmp[11] << 8;
    const std::size_t stride = p.stride();
    for (int32_t y = 0; y < p.height; ++y)
        std::memcpy(bmp.data() + offset + static_cast<std::size_t>(y) * stride, p.row(y), stride);
    spit(at("down.bmp"), bmp);
    ASSERT_EQ(orveln("convert " + quote(at("down.bmp")) + " " + quote(at("down.tif"))).exit_code, 0);
    ASSERT_EQ(orveln("convert " + quote(at("down.tif")) + " " + quote(at("back.bmp"))).exit_code, 0);
    EXPECT_EQ(slurp(at("back.bmp")), slurp(at("up.bmp")));
}

TEST_F(orveln_cli, StandardInputAndOutputWithAnExplicitFormat)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 40, 30)));
    run_result r = shell("cat " + quote(at("in.bmp")) + " | " + quote(ORVELN_TOOL) + " convert - - --to tif > " +
                         quote(at("piped.tif")));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_EQ(orveln("convert " + quote(at("in.bmp")) + " " + quote(at("direct.tif"))).exit_code, 0);
    EXPECT_EQ(slurp(at("piped.tif")), slurp(at("direct.tif")));
    r = orveln("convert " + quote(at("in.bmp")) + " -");
    EXPECT_EQ(r.exit_code, 2) << "standard output needs --to";
}

TEST_F(orveln_cli, TiffStripsAreTheSameOnOneThreadAndOnMany)
{
    const picture p = sample(24, 700, 300); // about 26 strips
    spit(at("in.bmp"), host::write_bmp(p));
    for (const std::string opts : {"", "--predictor"}) {
        ASSERT_EQ(
            orveln("convert " + quote(at("in.bmp")) + " " + quote(at("one.tif")) + " --threads 1 " + opts).exit_code,
            0);
        ASSERT_EQ(
            orveln("convert " + quote(at("in.bmp")) + " " + quote(at("many.tif")) + " --threads 7 " + opts).exit_code,
            0);
        EXPECT_EQ(slurp(at("one.tif")), slurp(at("many.tif"))) << opts;
        ASSERT_EQ(orveln("convert " + quote(at("many.tif")) + " " + quote(at("back1.bmp")) + " --threads 1").exit_code,
                  0);
        ASSERT_EQ(orveln("convert " + quote(at("many.tif")) + " " + quote(at("back7.bmp")) + " --threads 7").exit_code,
                  0);
        EXPECT_EQ(slurp(at("back1.bmp")), slurp(at("back7.bmp")));
    }
}

// Files the tool writes, opened by readers that share no code with it.
TEST_F(orveln_cli, WrittenFilesOpenInIndependentReaders)
{
    const picture p8 = sample(8, 97, 45);
    const picture p24 = sample(24, 97, 45);
    spit(at("p8.bmp"), host::write_bmp(p8));
    spit(at("p24.bmp"), host::write_bmp(p24));
    struct out {
        const char *in;
        const char *file;
        const char *options;
    };
    const out outs[] = {{"p8.bmp", "a.gif", ""},  {"p8.bmp", "b.gif", "--interlace --transparent 2"},
                        {"p8.bmp", "c.tif", ""},  {"p24.bmp", "d.tif", "--predictor"},
                        {"p24.bmp", "e.tif", ""}, {"p8.bmp", "f.tif", "--predictor"}};
    for (const out &o : outs)
        ASSERT_EQ(orveln("convert " + quote(at(o.in)) + " " + quote(at(o.file)) + " " + o.options).exit_code, 0);

    // Pillow: every file decodes to the colours of its source.
    const std::string script = R"(
import sys
from PIL import Image
d = sys.argv[1]
for src, f in [('p8.bmp','a.gif'),('p8.bmp','b.gif'),('p8.bmp','c.tif'),('p24.bmp','d.tif'),('p24.bmp','e.tif'),('p8.bmp','f.tif')]:
    a = Image.open(d + '/' + src).convert('RGB')
    b = Image.open(d + '/' + f)
    b.load()
    if list(a.getdata()) != list(b.convert('RGB').getdata()):
        print('pixels differ in', f); sys.exit(1)
print('ok')
)";
    spit(at("check.py"), std::span(reinterpret_cast<const uint8_t *>(script.data()), script.size()));
    run_result r = shell("/usr/bin/python3 " + quote(at("check.py")) + " " + quote(dir_.string()));
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;

    // libtiff's own tools read every strip; giflib's reads the GIF to its end.
    for (const char *f : {"c.tif", "d.tif", "e.tif", "f.tif"}) {
        r = shell("tiffinfo -D " + quote(at(f)));
        EXPECT_EQ(r.exit_code, 0) << f << r.err;
        EXPECT_NE(r.out.find("LZW"), std::string::npos) << f;
        r = shell("tiffcp -c none " + quote(at(f)) + " " + quote(at(std::string("plain-") + f)));
        EXPECT_EQ(r.exit_code, 0) << f << r.err;
        EXPECT_TRUE(r.err.empty()) << f << r.err;
    }
    for (const char *f : {"a.gif", "b.gif"}) {
        r = shell("giftext " + quote(at(f)));
        EXPECT_EQ(r.exit_code, 0) << f << r.err;
        EXPECT_NE(r.out.find("GIF file terminated normally"), std::string::npos) << f << r.out;
    }
}

TEST_F(orveln_cli, InfoDescribesTheFileAndTheCompression)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 64, 64)));
    ASSERT_EQ(
        orveln("convert " + quote(at("in.bmp")) + " " + quote(at("x.gif")) + " --interlace --transparent 7").exit_code,
        0);
    ASSERT_EQ(orveln("convert " + quote(at("in.bmp")) + " " + quote(at("x.tif"))).exit_code, 0);
    const run_result r = orveln("info " + quote(at("x.gif")) + " " + quote(at("x.tif")) + " " + quote(at("in.bmp")));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char *expected : {"GIF", "64x64", "interlaced", "index 7", "ratio", "TIFF", "LZW", "strips", "BMP"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
}

TEST_F(orveln_cli, HelpVersionAndUsageErrors)
{
    run_result r = orveln("--help");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("orveln convert"), std::string::npos);
    r = orveln("--version");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, std::string("orveln ") + ORVELN1_VERSION_STRING + "\n");
    for (const char *bad : {"", "frobnicate", "convert onlyone", "convert a b --to png", "convert a b.xyz",
                            "convert a b.gif --threads 0", "convert a b.tif --interlace", "info"}) {
        r = orveln(bad);
        EXPECT_EQ(r.exit_code, 2) << bad;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << r.err;
    }
}

struct bad_input_case {
    const char *name;
    std::vector<uint8_t> (*make)(const std::vector<uint8_t> &good_bmp, const std::vector<uint8_t> &good_tif,
                                 const std::vector<uint8_t> &good_gif);
    const char *output;
};

std::vector<uint8_t> cut(const std::vector<uint8_t> &v, std::size_t n)
{
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(n, v.size())));
}

void PrintTo(const bad_input_case &c, std::ostream *os)
{
    *os << c.name;
}

class tool_bad_input : public orveln_cli, public testing::WithParamInterface<bad_input_case>
{
};

TEST_P(tool_bad_input, GivesOneLineAndExitOneAndLeavesNoOutput)
{
    const bad_input_case c = GetParam();
    spit(at("good.bmp"), host::write_bmp(sample(8, 120, 80)));
    ASSERT_EQ(orveln("convert " + quote(at("good.bmp")) + " " + quote(at("good.tif"))).exit_code, 0);
    ASSERT_EQ(orveln("convert " + quote(at("good.bmp")) + " " + quote(at("good.gif"))).exit_code, 0);
    const std::vector<uint8_t> bad =
        c.make(slurp_bytes(at("good.bmp")), slurp_bytes(at("good.tif")), slurp_bytes(at("good.gif")));
    spit(at("bad.in"), bad);
    const run_result r = orveln("convert " + quote(at("bad.in")) + " " + quote(at(c.output)));
    expect_clean_failure(r, at(c.output));
    EXPECT_NE(r.err.find("bad.in"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    hostile, tool_bad_input,
    testing::Values(
        bad_input_case{"empty", [](auto &, auto &, auto &) { return std::vector<uint8_t>{}; }, "o.gif"},
        bad_input_case{"text",
                       [](auto &, auto &, auto &) {
                           return std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'};
                       },
                       "o.tif"},
        bad_input_case{"truncated_bmp", [](auto &b, auto &, auto &) { return cut(b, b.size() - 100); }, "o.tif"},
        bad_input_case{"bmp_header_only", [](auto &b, auto &, auto &) { return cut(b, 30); }, "o.gif"},
        bad_input_case{"bmp_huge_size",
                       [](auto &b, auto &, auto &) {
                           auto v = b;
                           v[18] = 0xFF, v[19] = 0xFF, v[20] = 0xFF, v[21] = 0x7F;
                           return v;
                       },
                       "o.tif"},
        bad_input_case{"bmp_palette_overflow",
                       [](auto &b, auto &, auto &) {
                           auto v = b;
                           v[46] = 0xFF, v[47] = 0xFF, v[48] = 0, v[49] = 0;
                           return v;
                       },
                       "o.gif"},
        bad_input_case{"bmp_rle",
                       [](auto &b, auto &, auto &) {
                           auto v = b;
                           v[30] = 1;
                           return v;
                       },
                       "o.gif"},
        bad_input_case{"truncated_tif", [](auto &, auto &tf, auto &) { return cut(tf, tf.size() / 2); }, "o.bmp"},
        bad_input_case{"tif_corrupt_strips",
                       [](auto &, auto &tf, auto &) {
                           auto v = tf;
                           for (std::size_t i = 8; i < v.size() / 2; ++i)
                               v[i] = static_cast<uint8_t>(i * 7);
                           return v;
                       },
                       "o.bmp"},
        bad_input_case{"truncated_gif_header", [](auto &, auto &, auto &g) { return cut(g, 20); }, "o.bmp"},
        bad_input_case{"gif_corrupt_data",
                       [](auto &, auto &, auto &g) {
                           auto v = g;
                           v[13 + 768 + 11] = 0x05; // first sub-block shortened: first code is not a clear code
                           v[13 + 768 + 12] = 0xFF;
                           return v;
                       },
                       "o.bmp"}),
    [](const testing::TestParamInfo<bad_input_case> &i) { return std::string(i.param.name); });

TEST_F(orveln_cli, UnwritableOutputAndTooManyColoursFailCleanly)
{
    spit(at("in.bmp"), host::write_bmp(sample(8, 30, 30)));
    run_result r = orveln("convert " + quote(at("in.bmp")) + " " + quote(at("no/such/dir/out.gif")));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("out.gif"), std::string::npos) << r.err;

    picture rich = make_picture(40, 40, 24);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            rich.row(y)[x * 3] = static_cast<uint8_t>(x * 6);
            rich.row(y)[x * 3 + 1] = static_cast<uint8_t>(y * 6);
        }
    spit(at("rich.bmp"), host::write_bmp(rich));
    r = orveln("convert " + quote(at("rich.bmp")) + " " + quote(at("rich.gif")));
    expect_clean_failure(r, at("rich.gif"));
    EXPECT_NE(r.err.find("256 colours"), std::string::npos) << r.err;

    // A failed conversion leaves an existing file as it was.
    spit(at("keep.gif"), std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    r = orveln("convert " + quote(at("rich.bmp")) + " " + quote(at("keep.gif")));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(slurp(at("keep.gif")), "keep");
}

// Every real-world file of the corpus converts, or is refused with the one-line error: never a
// crash, a hang or a partial file.
TEST_F(orveln_cli, CorpusFilesConvertWithoutFault)
{
    ORVELN1_NEED_CORPUS();
    int converted = 0;
    int refused = 0;
    for (const nlohmann::json &entry : orveln1::test::shared_corpus().entries) {
        const fs::path in = orveln1::test::shared_corpus().path(entry["file"]);
        const fs::path out = at(in.stem().string() + ".bmp");
        const run_result r = orveln("convert " + quote(in.string()) + " " + quote(out.string()));
        if (r.exit_code == 0) {
            ++converted;
            EXPECT_TRUE(fs::exists(out)) << in;
            continue;
        }
        ++refused;
        SCOPED_TRACE(in.string());
        expect_clean_failure(r, out);
    }
    EXPECT_GT(converted, refused) << converted << " converted, " << refused << " refused";
}

TEST_F(orveln_cli, DemoWritesVerifiedFilesAndATable)
{
    const run_result r = orveln("demo " + quote(at("demo")) + " --size 256");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char *f : {"demo.gif", "demo-interlaced.gif", "demo.tif"}) {
        EXPECT_TRUE(fs::exists(at("demo") / f)) << f;
        EXPECT_NE(r.out.find(f), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.out.find("DIFFER"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("verified"), std::string::npos) << r.out;
}

} // namespace
