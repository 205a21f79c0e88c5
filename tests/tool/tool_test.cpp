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
    bool predicted = false; // TIFF: the file says horizontal differencing
    bool grey = false;      // a grey ramp for the palette
    bool top_down = false;  // the bitmap's rows stored from the top (a negative height)
};

using tool_round_trip = orveln_table<round_trip_case>;

// Pillow reads the source's colours from each file on the way; libtiff's tiffinfo decodes every strip
// without a warning. (How the GIF marks transparency is the library's and info's to check.)
TEST_P(tool_round_trip, BmpThroughTheFormatAndBackKeepsEveryPixel)
{
    const round_trip_case c = GetParam();
    const picture original = c.grey ? in_grey(sample(c.depth, 83, 61)) : sample(c.depth, 83, 61);
    std::vector<uint8_t> bmp = host::write_bmp(original);
    if (c.top_down) {
        const int32_t negative = -original.height;
        std::memcpy(bmp.data() + 22, &negative, 4);
        for (int32_t y = 0; y < original.height; ++y)
            std::memcpy(bmp.data() + (bmp[10] | bmp[11] << 8) + static_cast<std::size_t>(y) * original.stride(),
                        original.row(y), original.stride());
    }
    spit(at("in.bmp"), bmp);
    const std::string format = c.format, mid = "mid." + format;
    run_result r = convert("in.bmp", mid, c.options);
    ASSERT_TRUE(ok(r) && r.err.empty() && r.out.empty()) << "silent on success: " << r.out << r.err;
    ASSERT_TRUE(ok(convert(mid, "back.bmp")));
    EXPECT_TRUE(same_in_pillow("in.bmp", "back.bmp"));
    // The bitmap's bit count: GIF widens 1-bit pictures to 4 bits and gives truecolour as 8.
    EXPECT_EQ(slurp(at("back.bmp"))[28], format != "gif" ? c.depth : c.depth == 1 ? 4 : std::min(c.depth, 8));
    EXPECT_TRUE(same_in_pillow("in.bmp", mid));
    if (format == "tif") {
        r = shell("tiffinfo -D " + mid);
        EXPECT_TRUE(ok(r) && r.err.empty()) << r.err;
        EXPECT_TRUE(has(r.out, "LZW"));
        EXPECT_EQ(r.out.find("horizontal differencing") != std::string::npos, c.predicted) << r.out;
    }
}

// --transparent survives the reduction of a truecolour picture to a palette; predictor 2 is the
// default where neighbouring samples are alike, never on palette indices.
const round_trip_case kinds[] = {{"gif1", 1, "gif", ""},
                                 {"gif4", 4, "gif", "--interlace --transparent 2"},
                                 {"gif24", 24, "gif", "--transparent 3"},
                                 {"gif32", 32, "gif", "--transparent 2"},
                                 {"tif1", 1, "tif", ""},
                                 {"tif8", 8, "tif", ""},
                                 {"tif8p_top_down", 8, "tif", "--predictor", true, false, true},
                                 {"tif8grey", 8, "tif", "", true, true},
                                 {"tif24", 24, "tif", "", true},
                                 {"tif24_no_predictor", 24, "tif", "--no-predictor"},
                                 {"tif32", 32, "tif", "", true}};

INSTANTIATE_TEST_SUITE_P(every_kind, tool_round_trip, testing::ValuesIn(kinds), row_name);

// Good files made into bad ones.
struct good_files {
    std::vector<uint8_t> bmp, tif, gif;
};

struct bad_input_case {
    const char *name;
    std::vector<uint8_t> (*make)(const good_files &good);
    const char *output;
    const char *options = "";
    const char *reason = ""; // in the line, besides the input's name
};

std::vector<uint8_t> cut(const std::vector<uint8_t> &v, std::size_t n)
{
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(n, v.size())));
}

std::vector<uint8_t> patched(std::vector<uint8_t> v, std::size_t offset, std::string_view bytes)
{
    std::copy(bytes.begin(), bytes.end(), v.begin() + static_cast<std::ptrdiff_t>(offset));
    return v;
}

using tool_bad_input = orveln_table<bad_input_case>;

TEST_P(tool_bad_input, GivesOneLineAndExitOneAndLeavesNoOutput)
{
    const bad_input_case c = GetParam();
    spit(at("good.bmp"), host::write_bmp(sample(8, 120, 80)));
    for (const char *good : {"good.tif", "good.gif"})
        ASSERT_TRUE(ok(convert("good.bmp", good)));
    spit(at("bad.in"),
         c.make({slurp<bytes>(at("good.bmp")), slurp<bytes>(at("good.tif")), slurp<bytes>(at("good.gif"))}));
    const run_result r = convert("bad.in", c.output, c.options);
    expect_clean_failure(r, at("bad.in"), at(c.output));
    EXPECT_TRUE(has(r.err, c.reason));
    EXPECT_EQ(r.err.find(at(c.output).string()), std::string::npos) << "names the input, not the output: " << r.err;
}

const bad_input_case bad_inputs[] = {
    {"empty", [](auto &) { return std::vector<uint8_t>(); }, "o.gif", "", "empty file"},
    {"text", [](auto &) { return std::vector<uint8_t>(5, 'h'); }, "o.tif", "", "unknown file format"},
    {"truncated_bmp", [](auto &g) { return cut(g.bmp, g.bmp.size() - 100); }, "o.tif"},
    {"bmp_header_only", [](auto &g) { return cut(g.bmp, 30); }, "o.gif"},
    {"bmp_huge_size", [](auto &g) { return patched(g.bmp, 18, "\xFF\xFF\xFF\x7F"); }, "o.tif"},
    {"bmp_palette_overflow", [](auto &g) { return patched(g.bmp, 46, std::string_view("\xFF\xFF\0\0", 4)); }, "o.gif"},
    {"bmp_rle", [](auto &g) { return patched(g.bmp, 30, "\x01"); }, "o.gif"},
    {"truncated_tif", [](auto &g) { return cut(g.tif, g.tif.size() / 2); }, "o.bmp"},
    {"tif_corrupt_strips", [](auto &g) { return patched(g.tif, 8, std::string(g.tif.size() / 2 - 8, '\x55')); },
     "o.bmp"},
    {"truncated_gif_header", [](auto &g) { return cut(g.gif, 20); }, "o.bmp"},
    // Pictures that are sound but cannot be written as asked.
    {"too_many_colours_for_exact", [](auto &) { return host::write_bmp(photo_like(64, 64)); }, "o.gif", "--exact",
     "256 colours"},
    {"predictor_on_bits", [](auto &) { return host::write_bmp(sample(1, 64, 64)); }, "o.tif", "--predictor"},
};

INSTANTIATE_TEST_SUITE_P(hostile, tool_bad_input, testing::ValuesIn(bad_inputs), row_name);

// The reference pixels of each corpus file, compared with what Pillow reads from every file the
// tool wrote from it: giflib's indices (from the manifest's expected blobs) through the image's
// colour table for GIF, Pillow's decode (through libtiff) of the first page for TIFF.
const char *const corpus_check = R"(
import functools, json, subprocess
corpus = sys.argv[2]
manifest = {m['file']: m for m in map(json.loads, open(corpus + '/manifest.jsonl'))}

@functools.cache
def reference(rel):
    m = manifest[rel]
    if m['kind'] == 'gif':
        data, at = open(corpus + '/' + rel, 'rb').read(), m['descriptor_offset']
        table = data[13:13 + (6 << (data[10] & 7))] if data[10] & 0x80 else b''
        if data[at + 9] & 0x80:
            table = data[at + 10:at + 10 + (6 << (data[at + 9] & 7))]
        table = table.ljust(768, b'\0')
        idx = open(corpus + '/' + m['expected']['idx'], 'rb').read()
        return (m['width'], m['height']), b''.join(table[3 * i:3 * i + 3] for i in idx), None
    im = Image.open(corpus + '/' + rel)
    im.load()
    if im.tag_v2.get(338) not in (1, (1,)):
        return im.size, im.convert('RGB').tobytes(), None
    # Associated alpha: Pillow divides the colours by alpha; libtiff's strips hold them multiplied,
    # which is what formats without alpha get.
    plain = d + '/plain.tif'
    subprocess.run(['tiffcp', '-c', 'none', '-r', str(im.size[1]), corpus + '/' + rel, plain], check=True)
    offsets = Image.open(plain).tag_v2[273]
    at = offsets[0] if isinstance(offsets, tuple) else offsets
    b = open(plain, 'rb').read()[at:at + 4 * im.size[0] * im.size[1]]
    return im.size, im.convert('RGBA').tobytes(), b''.join(b[i:i + 3] for i in range(0, len(b), 4))

bad = []
converted = [l.split() for l in open(d + '/converted.txt')]
for rel, made in converted:
    size, want, raw = reference(rel)
    got = Image.open(made)
    if got.size != size or (got.convert('RGB').tobytes() != want if raw is None else
                            got.convert('RGB').tobytes() != raw if made.endswith('.bmp') else
                            any(abs(p - q) > 1 for p, q in zip(got.convert('RGBA').tobytes(), want))):
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
    ASSERT_GT(orveln1::test::shared_corpus().entries.size(), 0u);
    std::string converted;
    int refused = 0;
    for (const nlohmann::json &entry : orveln1::test::shared_corpus().entries)
        for (const char *ext : {"bmp", "png", "gif", "tif"}) {
            const std::string rel = entry["file"].get<std::string>(), in = (corpus / rel).string();
            const fs::path out = at(fs::path(rel).filename().string() + "." + ext);
            // GIF output keeps the colours exactly or refuses.
            const run_result r = convert(in, out, std::string(ext) == "gif" ? "--exact" : "");
            if (r.exit_code == 0) {
                converted += rel + " " + out.string() + "\n";
                continue;
            }
            ++refused;
            SCOPED_TRACE(out.string());
            expect_clean_failure(r, in, out);
            EXPECT_GT(r.err.size(), in.size() + 20) << "a reason is given: " << r.err;
        }
    spit(at("converted.txt"), converted);
    const run_result check = python(corpus_check, quote(corpus.string()));
    EXPECT_TRUE(ok(check));
    EXPECT_GT(std::count(converted.begin(), converted.end(), '\n'), refused);
}

TEST_F(orveln_cli, DemoWritesVerifiedFilesAndATable)
{
    const run_result r = orveln("demo demo --size 256");
    ASSERT_TRUE(ok(r));
    for (const char *f : {"demo.gif", "demo-interlaced.gif", "demo.tif"})
        EXPECT_TRUE(fs::exists(at("demo") / f) && has(r.out, f)) << f << "\n" << r.out;
    EXPECT_TRUE(has(r.out, "verified") && !has(r.out, "DIFFER")) << r.out;
}

} // namespace
