// SPDX-License-Identifier: MIT
// The tool's memory and progress: conversions into TIFF that read their input a band of rows at a
// time give the pixels and bytes of a whole read, wherever the bands cut the input's strips; the
// progress line shows on a terminal only.
#include "png_file.hpp"
#include "tool_fixture.hpp"

using namespace tool_test;

namespace
{

struct stream_case {
    const char *name;
    const char *format; // of the input: tif, png, bmp or jpg
    int depth;
    int32_t width;
    int32_t height;
    const char *tiffcp = ""; // a TIFF input: libtiff's tiffcp rewrites the tool's file with these options
};

using tool_stream = orveln_table<stream_case>;

TEST_P(tool_stream, BandsGiveTheWholeReadsPixelsAndBytes)
{
    const stream_case c = GetParam();
    const std::string format = c.format;
    picture p = c.depth >= 24 ? photo_like(c.width, c.height, 7, c.depth) : sample(c.depth, c.width, c.height);
    if (format == "tif" && c.depth <= 8)
        p = in_grey(p); // written as greyscale
    const std::string in = "in." + format, source = format == "png" || format == "tif" ? "in.png" : "in.bmp";
    const auto fourth = c.depth == 32 ? host::sample_meaning::unassociated_alpha : host::sample_meaning::unspecified;
    spit(at(source), source == "in.png" ? host::write_png(p, fourth) : host::write_bmp(p));
    if (format == "tif") {
        ASSERT_TRUE(ok(convert("in.png", "tool.tif", "--no-predictor")));
        ASSERT_TRUE(ok(shell("tiffcp " + std::string(c.tiffcp) + " tool.tif " + in)));
    }
    if (format == "jpg") { // by Pillow, from the bitmap
        ASSERT_TRUE(ok(python("Image.open(d + '/in.bmp').save(d + '/in.jpg', quality=90)")));
    }

    // One thread gives batches of four output strips, so the larger inputs take several bands.
    ASSERT_TRUE(ok(convert(in, "banded.tif", "--threads 1")));
    // Standard input, here a pipe, is read whole before the conversion starts; standard output gets
    // the bytes a file gets, whatever the threads that read and code the strips.
    ASSERT_TRUE(ok(shell("cat " + in + " | " + quote(ORVELN_TOOL) + " convert - - --to tif --threads 7 > whole.tif")));
    EXPECT_EQ(slurp(at("banded.tif")), slurp(at("whole.tif")));
    // JPEG is lossy: its pixels are those of Pillow's decode, through the same libjpeg.
    EXPECT_TRUE(same_in_pillow(format == "jpg" ? in : source, "banded.tif", c.depth == 32 ? "RGBA" : "RGB"));
}

// Output strips of about 1 MiB: 499 rows at 700 RGB pixels, 3495 at 300 grey ones, 1048 at 8000
// bilevel ones; the input strips of 7, 1000 or 33 rows end inside a band, not at its edge.
INSTANTIATE_TEST_SUITE_P(
    inputs, tool_stream,
    testing::Values(stream_case{"tif_lzw_rgb_predictor", "tif", 24, 700, 2500, "-c lzw:2 -r 7"},
                    stream_case{"tif_lzw_rgba_one_strip", "tif", 32, 700, 1900, "-c lzw:2 -r 1900"},
                    stream_case{"tif_stored_grey", "tif", 8, 300, 15000, "-c none -r 1000"},
                    stream_case{"tif_lzw_bilevel", "tif", 1, 8000, 4500, "-c lzw -r 33"},
                    stream_case{"png_rgba", "png", 32, 700, 1900}, stream_case{"png_4bit_palette", "png", 4, 2001, 300},
                    stream_case{"bmp_8bit_palette", "bmp", 8, 301, 7001},
                    stream_case{"jpeg_rgb", "jpg", 24, 700, 2500}),
    row_name);

struct progress_case {
    const char *name;
    const char *input;  // format of the input file
    const char *output; // and of the output
};

using tool_progress = orveln_table<progress_case>;

// With the delay at 0 the line shows however fast the machine is; without a terminal it never shows.
TEST_P(tool_progress, PercentOfRowsOnATerminalOnly)
{
    const progress_case c = GetParam();
    spit(at("photo.bmp"), host::write_bmp(photo_like(300, 300)));
    const std::string in = std::string("in.") + c.input, out = std::string("out.") + c.output;
    ASSERT_TRUE(ok(convert("photo.bmp", in)));
    const std::string command = "ORVELN_PROGRESS_DELAY_MS=0 " + quote(ORVELN_TOOL) + " convert " + in + " " + out;
    const run_result plain = shell(command);
    ASSERT_TRUE(ok(plain) && plain.err.empty()) << "progress without a terminal: " << plain.exit_code << plain.err;
    fs::remove(at(out));
    const run_result terminal = shell(on_terminal(command));
    ASSERT_TRUE(ok(terminal));
    // The reading line reaches 100 % too; the writing line must get there on its own.
    EXPECT_TRUE(has(terminal.out, "orveln: writing " + out + " 100%"));
    // The line is cleared at the end, so that the shell prompt starts on an empty line.
    EXPECT_EQ(terminal.out.substr(terminal.out.size() - 4), "\r\033[K") << terminal.out;
}

INSTANTIATE_TEST_SUITE_P(formats, tool_progress,
                         testing::Values(progress_case{"bmp_to_gif", "bmp", "gif"},
                                         progress_case{"png_to_tif", "png", "tif"},
                                         progress_case{"tif_to_png", "tif", "png"}),
                         row_name);

} // namespace
