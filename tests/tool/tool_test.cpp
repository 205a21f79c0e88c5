// SPDX-License-Identifier: MIT
// The orveln tool run as a user runs it, as a subprocess: round trips for every kind of image,
// files checked by independent readers, the corpus, and bad input refused cleanly.
#include "tool_fixture.hpp"

using namespace tool_test;

namespace
{

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
    const picture p = sample(24, 1000, 1200); // 4 strips
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
    for (const char *expected : {"GIF", "64x64", "interlaced", "index 7", "ratio", "TIFF", "LZW", "1 strip of", "BMP",
                                 "64 of 64 rows complete"})
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
    for (const char *bad : {"", "frobnicate", "convert onlyone", "convert a b --to jpg", "convert a b.xyz",
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
    r = orveln("convert " + quote(at("rich.bmp")) + " " + quote(at("rich.gif")) + " --exact");
    expect_clean_failure(r, at("rich.gif"));
    EXPECT_NE(r.err.find("256 colours"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rich.bmp"), std::string::npos) << "the input is what has too many colours: " << r.err;

    // A failed conversion leaves an existing file as it was.
    spit(at("keep.gif"), std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    r = orveln("convert " + quote(at("rich.bmp")) + " " + quote(at("keep.gif")) + " --exact");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(slurp(at("keep.gif")), "keep");
}

// The reference pixels of each corpus file, compared with what Pillow reads from every file the
// tool wrote from it: giflib's indices (from the manifest's expected blobs) through the image's
// colour table for GIF, Pillow's decode (through libtiff) of the first page for TIFF.
const char *const corpus_check = R"(
import json, subprocess, sys
from PIL import Image
out, corpus = sys.argv[1], sys.argv[2]
converted = [l.split() for l in open(out + '/converted.txt')]
manifest = {}
for line in open(corpus + '/manifest.jsonl'):
    m = json.loads(line)
    manifest[m['file']] = m

def gif_table(data, m):
    tables = []
    if data[10] & 0x80:
        n = 2 << (data[10] & 7)
        tables = data[13:13 + 3 * n]
    d = m['descriptor_offset']
    packed = data[d + 9]
    if packed & 0x80:
        n = 2 << (packed & 7)
        tables = data[d + 10:d + 10 + 3 * n]
    return tables

cache = {}

def reference(rel):
    if rel in cache:
        return cache[rel]
    m = manifest[rel]
    if m['kind'] == 'gif':
        data = open(corpus + '/' + rel, 'rb').read()
        table = gif_table(data, m)
        entries = [bytes(table[3 * i:3 * i + 3]) if 3 * i + 3 <= len(table) else bytes(3) for i in range(256)]
        idx = open(corpus + '/' + m['expected']['idx'], 'rb').read()
        cache[rel] = (m['width'], m['height']), b''.join(map(entries.__getitem__, idx)), None
        return cache[rel]
    im = Image.open(corpus + '/' + rel)
    im.load()
    raw = None
    if im.tag_v2.get(338) in (1, (1,)):
        # Associated alpha: Pillow divides the colours by alpha; libtiff's strips hold them
        # multiplied, which is what formats without alpha get.
        plain = out + '/plain.tif'
        subprocess.run(['tiffcp', '-c', 'none', '-r', str(im.size[1]), corpus + '/' + rel, plain], check=True)
        p = Image.open(plain)
        data = open(plain, 'rb').read()
        at = p.tag_v2[273][0] if isinstance(p.tag_v2[273], tuple) else p.tag_v2[273]
        b = data[at:at + 4 * im.size[0] * im.size[1]]
        raw = b''.join(b[i:i + 3] for i in range(0, len(b), 4))
    cache[rel] = im.size, im.convert('RGBA' if raw else 'RGB').tobytes(), raw
    return cache[rel]

bad = []
for rel, made in converted:
    size, want, raw = reference(rel)
    got = Image.open(made)
    if got.size != size:
        bad.append(made)
    elif raw is None:
        if got.convert('RGB').tobytes() != want:
            bad.append(made)
    elif made.endswith('.bmp'):
        if got.convert('RGB').tobytes() != raw:
            bad.append(made)
    elif any(abs(p - q) > 1 for p, q in zip(got.convert('RGBA').tobytes(), want)):
        bad.append(made)
print(len(converted), 'compared;', 'differ:', ' '.join(bad))
sys.exit(1 if bad else 0)
)";

// Every GIF and TIFF file of the corpus converts to each format with the reference pixels, or is
// refused with one line that names the file and the reason.
TEST_F(orveln_cli, CorpusFilesConvertToEveryFormatWithTheReferencePixels)
{
    ORVELN1_NEED_CORPUS();
    const fs::path corpus = orveln1::test::shared_corpus().dir;
    std::vector<std::string> files;
    for (const nlohmann::json &entry : orveln1::test::shared_corpus().entries)
        files.push_back(entry["file"].get<std::string>());
    ASSERT_GT(files.size(), 0u);

    // One shell runs every conversion, each leaving its exit code and standard error beside it.
    struct job {
        std::string rel;
        fs::path out;
    };
    std::vector<job> jobs;
    std::string script;
    for (const std::string &rel : files)
        for (const char *ext : {"bmp", "png", "gif", "tif"}) {
            const fs::path out = at(fs::path(rel).filename().string() + "." + ext);
            jobs.push_back({rel, out});
            // GIF output keeps the colours exactly or refuses.
            script += quote(ORVELN_TOOL) + " convert " + quote((corpus / rel).string()) + " " + quote(out.string()) +
                      (std::string(ext) == "gif" ? " --exact" : "") + " 2>" + quote(out.string() + ".err") +
                      "; echo $? >" + quote(out.string() + ".rc") + "\n";
        }
    spit(at("convert-all.sh"), std::span(reinterpret_cast<const uint8_t *>(script.data()), script.size()));
    ASSERT_EQ(shell("sh " + quote(at("convert-all.sh").string())).exit_code, 0);

    std::string converted;
    int refused = 0;
    for (const job &j : jobs) {
        const std::string in = (corpus / j.rel).string();
        run_result r;
        r.exit_code = std::stoi(slurp(j.out.string() + ".rc"));
        r.err = slurp(j.out.string() + ".err");
        fs::remove(j.out.string() + ".rc");
        fs::remove(j.out.string() + ".err");
        if (r.exit_code == 0) {
            converted += j.rel + " " + j.out.string() + "\n";
            continue;
        }
        ++refused;
        SCOPED_TRACE(j.out.string());
        expect_clean_failure(r, j.out);
        EXPECT_NE(r.err.find(in + ": "), std::string::npos) << r.err;
        EXPECT_GT(r.err.size(), in.size() + 20) << "a reason is given: " << r.err;
    }
    spit(at("converted.txt"), std::span(reinterpret_cast<const uint8_t *>(converted.data()), converted.size()));
    const run_result check =
        shell("/usr/bin/python3 -c " + quote(corpus_check) + " " + quote(dir_.string()) + " " + quote(corpus.string()));
    EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
    EXPECT_GT(std::count(converted.begin(), converted.end(), '\n'), refused);
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
