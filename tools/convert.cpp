// SPDX-License-Identifier: MIT
// Format detection, loading and saving in BMP, GIF and TIFF, and whole-file input and output with
// the output written under a temporary name and renamed into place on success.
#include "convert.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "bmp_file.hpp"
#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

std::string system_error_text()
{
    return std::strerror(errno);
}

// Writes all of data to a descriptor; false on any failure.
bool write_all(int fd, std::span<const uint8_t> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

const char *format_name(file_format f)
{
    switch (f) {
    case file_format::bmp:
        return "BMP";
    case file_format::gif:
        return "GIF";
    case file_format::tif:
        return "TIFF";
    }
    return "?";
}

std::optional<file_format> sniff_format(std::span<const uint8_t> d)
{
    auto starts = [&](std::string_view magic) {
        return d.size() >= magic.size() && std::equal(magic.begin(), magic.end(), d.begin(),
                                                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    };
    if (starts("GIF87a") || starts("GIF89a"))
        return file_format::gif;
    if (starts(std::string_view("II*\0", 4)) || starts(std::string_view("MM\0*", 4)) ||
        starts(std::string_view("II+\0", 4)) || starts(std::string_view("MM\0+", 4)))
        return file_format::tif;
    if (starts("BM"))
        return file_format::bmp;
    return std::nullopt;
}

std::optional<file_format> format_from_name(std::string_view name)
{
    const std::string n = lower(name);
    const std::size_t dot = n.rfind('.');
    const std::string ext = dot == std::string::npos ? n : n.substr(dot + 1);
    if (ext == "gif")
        return file_format::gif;
    if (ext == "tif" || ext == "tiff")
        return file_format::tif;
    if (ext == "bmp" || ext == "dib")
        return file_format::bmp;
    return std::nullopt;
}

picture load_picture(std::span<const uint8_t> data, unsigned threads, load_facts *facts)
{
    const std::optional<file_format> format = sniff_format(data);
    if (!format)
        throw failure(data.empty() ? "empty file" : "unknown file format (not BMP, GIF or TIFF)");
    if (facts != nullptr)
        facts->format = *format;
    switch (*format) {
    case file_format::bmp:
        return read_bmp(data);
    case file_format::gif:
        return read_gif(data, facts != nullptr ? &facts->gif : nullptr);
    case file_format::tif:
        return read_tiff(data, threads, facts != nullptr ? &facts->tiff : nullptr);
    }
    throw failure("unknown file format");
}

std::vector<uint8_t> save_picture(const picture &image, file_format format, const save_options &options)
{
    switch (format) {
    case file_format::bmp:
        return write_bmp(image);
    case file_format::gif: {
        if (options.transparent < 0)
            return write_gif(image, options.interlace);
        picture marked = image;
        marked.transparent_index = options.transparent;
        return write_gif(marked, options.interlace);
    }
    case file_format::tif: {
        tiff_write_options o;
        o.predictor = options.predictor;
        o.threads = options.threads;
        return write_tiff(image, o);
    }
    }
    throw failure("unknown output format");
}

std::vector<uint8_t> read_input_file(const std::string &path)
{
    if (path == "-") {
        std::vector<uint8_t> data;
        char buffer[1 << 16];
        for (;;) {
            const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
            data.insert(data.end(), buffer, buffer + n);
            if (n < sizeof buffer) {
                if (std::ferror(stdin))
                    throw failure("cannot read standard input");
                break;
            }
        }
        return data;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw failure(std::string("cannot open: ") + system_error_text());
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw failure("cannot read the file");
    return data;
}

void write_output_file(const std::string &path, std::span<const uint8_t> data)
{
    if (path == "-") {
        if (!write_all(STDOUT_FILENO, data))
            throw failure(std::string("cannot write standard output: ") + system_error_text());
        return;
    }
    std::string temp = path + ".orveln-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw failure(std::string("cannot create: ") + system_error_text());
    std::string why;
    if (!write_all(fd, data))
        why = system_error_text();
    // mkstemp makes the file private; give it the permissions an ordinary new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (why.empty() && ::fchmod(fd, 0666 & ~mask) != 0)
        why = system_error_text();
    if (::close(fd) != 0 && why.empty())
        why = system_error_text();
    if (why.empty() && std::rename(temp.c_str(), path.c_str()) != 0)
        why = system_error_text();
    if (!why.empty()) {
        std::remove(temp.c_str());
        throw failure("cannot write: " + why);
    }
}

} // namespace orveln1::tool
