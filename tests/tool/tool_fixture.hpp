// SPDX-License-Identifier: MIT
// The orveln tool's test fixture: runs the tool as a subprocess in a scratch folder per test, and
// makes and compares pictures for the tests.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bmp_file.hpp"
#include "orveln1.hpp"
#include "support/corpus.hpp"

namespace fs = std::filesystem;
using namespace orveln1;
namespace host = orveln1::tool;

namespace tool_test
{

struct run_result {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// The file's contents as a string or, with slurp<bytes>, as a byte vector.
using bytes = std::vector<uint8_t>;
template <typename Contents = std::string> Contents slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return Contents(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes a string or a byte vector to the file.
inline void spit(const fs::path &p, const auto &data)
{
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char *>(std::data(data)), static_cast<std::streamsize>(std::size(data)));
}

inline std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Whether the text holds the part; either answer prints both, for EXPECT_TRUE and EXPECT_FALSE.
[[nodiscard]] inline testing::AssertionResult has(const std::string &text, std::string_view part)
{
    auto r = text.find(part) != std::string::npos ? testing::AssertionSuccess() : testing::AssertionFailure();
    return r << "looked for '" << part << "' in:\n" << text;
}

// Whether the run exited 0; a failure prints what it said.
[[nodiscard]] inline testing::AssertionResult ok(const run_result &r)
{
    auto result = r.exit_code == 0 ? testing::AssertionSuccess() : testing::AssertionFailure();
    return result << "exit " << r.exit_code << ": " << r.out << r.err;
}

// Names each case of a table after its row, for INSTANTIATE_TEST_SUITE_P.
inline constexpr auto row_name = [](const auto &info) { return std::string(info.param.name); };

class orveln_cli : public testing::Test
{
  protected:
    void SetUp() override
    {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / ("orveln-tool-test-" + std::to_string(::getpid())) / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        if (HasFailure())
            return;
        fs::remove_all(dir_);
        std::error_code ignored; // the process's folder goes with its last test's
        fs::remove(dir_.parent_path(), ignored);
    }

    fs::path at(const fs::path &name) const { return dir_ / name; }

    // The command line run with standard input and output a terminal.
    static std::string on_terminal(const std::string &cmd) { return "script -qec " + quote(cmd) + " /dev/null"; }

    // Runs a shell command line in the test's folder; stdout and stderr are captured.
    run_result shell(const std::string &command) const
    {
        const fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
        const int status =
            std::system(("(cd " + quote(dir_) + " && " + command + ") >" + quote(out) + " 2>" + quote(err)).c_str());
        run_result r;
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = slurp(out);
        r.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    run_result orveln(const std::string &args) const { return shell(quote(ORVELN_TOOL) + " " + args); }

    // orveln convert IN OUT OPTIONS; IN and OUT are in the test's folder unless absolute.
    run_result convert(const fs::path &in, const fs::path &out, const std::string &options = "") const
    {
        return orveln("convert " + quote(at(in)) + " " + quote(at(out)) + " " + options);
    }

    // The tool's failure contract: exit 1, one line "orveln: INPUT: ...", and the named output absent.
    void expect_clean_failure(const run_result &r, const fs::path &input, const fs::path &output) const
    {
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_EQ(r.err.rfind("orveln: ", 0), 0u) << r.err;
        EXPECT_TRUE(has(r.err, input.string() + ": "));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(output));
        EXPECT_FALSE(temporary_left()) << "temporary file left";
    }

    // Runs a Python program with sys and Pillow's Image imported, and the test's folder in d and in
    // its first argument.
    run_result python(const std::string &program, const std::string &args = "") const
    {
        const fs::path script = dir_ / ".check.py";
        spit(script, "import sys\nfrom PIL import Image\nd = sys.argv[1]\n" + program);
        return shell("/usr/bin/python3 " + quote(script.string()) + " " + quote(dir_.string()) + " " + args);
    }

    // Whether Pillow reads the same pixels from both files (in the test's folder unless absolute),
    // each converted to the given mode.
    [[nodiscard]] testing::AssertionResult same_in_pillow(const fs::path &a, const fs::path &b,
                                                          const std::string &mode = "RGB") const
    {
        const run_result r = python(R"(
a, b = (Image.open(f).convert(sys.argv[4]) for f in sys.argv[2:4])
sys.exit(0 if a.size == b.size and a.tobytes() == b.tobytes() else 1)
)",
                                    quote(at(a)) + " " + quote(at(b)) + " " + quote(mode));
        if (r.exit_code == 0)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "Pillow reads other pixels from " << a << " and " << b << r.err;
    }

    // Whether a temporary file of the tool's is in the test's folder.
    [[nodiscard]] bool temporary_left() const
    {
        return std::ranges::any_of(fs::directory_iterator(dir_), [](const auto &e) {
            return e.path().filename().string().find(".orveln-") != std::string::npos;
        });
    }

    fs::path dir_;
};

// The fixture of a table of cases, one row type per table.
template <typename Row> class orveln_table : public orveln_cli, public testing::WithParamInterface<Row>
{
};

// A 24-bit picture of smooth gradients with noise, as a photo has: far more than 256 colours and
// little for LZW to find without the predictor. At depth 32 the fourth sample runs x + y.
inline picture photo_like(int32_t width, int32_t height, uint32_t seed = 1, int depth = 24)
{
    picture p = make_picture(width, height, depth);
    uint32_t state = seed;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8;
            uint8_t *px = p.row(y) + static_cast<std::size_t>(x) * static_cast<std::size_t>(depth / 8);
            px[0] = static_cast<uint8_t>(std::clamp(x * 255 / std::max(width, 1) + noise, 0, 255));
            px[1] = static_cast<uint8_t>(std::clamp(y * 255 / std::max(height, 1) + noise, 0, 255));
            px[2] = static_cast<uint8_t>(std::clamp((x + y) * 127 / std::max(width + height, 1) + 64 + noise, 0, 255));
            if (depth == 32)
                px[3] = static_cast<uint8_t>(x + y);
        }
    return p;
}

// A picture of each kind the tool reads from BMP, with pixels that vary and repeat.
inline picture sample(int depth, int32_t width, int32_t height)
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
    return p;
}

// The picture with the grey ramp of its depth for a palette, as greyscale reads.
inline picture in_grey(picture p)
{
    for (std::size_t i = 0; i < p.palette.size(); ++i) {
        const auto v = static_cast<uint8_t>(255 * i / (p.palette.size() - 1));
        p.palette[i] = colour{v, v, v};
    }
    return p;
}

} // namespace tool_test
