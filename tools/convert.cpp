// SPDX-License-Identifier: MIT
// Format detection, loading and saving in every format the tool knows, and file input and output
// with the output written under a temporary name, renamed into place on success and removed on
// failure or on a fatal signal.
#include "convert.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bmp_file.hpp"
#include "jpeg_file.hpp"
#include "png_file.hpp"
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

std::string system_error_text(int error = errno)
{
    return std::strerror(error);
}

// Writes all of data to a descriptor; false on any failure (errno tells why).
bool write_all(int fd, std::span<const uint8_t> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The temporary file being written, for the signal handler. Only async-signal-safe work happens
// there: unlink of this recorded path, restoring the default action and raising the signal again.
char pending_temp[PATH_MAX + 32];
volatile sig_atomic_t pending_temp_set = 0;
constexpr int fatal_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGQUIT};

extern "C" void remove_temp_and_die(int sig)
{
    if (pending_temp_set != 0)
        ::unlink(pending_temp);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Blocks the fatal signals while the temporary file's name is being recorded or forgotten, so that
// the handler never sees a half-written path.
class signals_blocked
{
  public:
    signals_blocked()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : fatal_signals)
            sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~signals_blocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    signals_blocked(const signals_blocked &) = delete;
    signals_blocked &operator=(const signals_blocked &) = delete;

  private:
    sigset_t old_{};
};

void install_signal_handlers()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (int s : fatal_signals) {
        struct sigaction previous {
        };
        sigaction(s, nullptr, &previous);
        // A signal the shell made us ignore (nohup, a background job) stays ignored.
        if (previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {
        };
        action.sa_handler = remove_temp_and_die;
        sigemptyset(&action.sa_mask);
        sigaction(s, &action, nullptr);
    }
}

// A temporary file beside the target that is removed unless committed, also on a fatal signal.
class temporary_file
{
  public:
    explicit temporary_file(const std::string &target) : target_(target)
    {
        install_signal_handlers();
        path_ = target + ".orveln-XXXXXX";
        if (path_.size() >= sizeof pending_temp)
            throw output_failure("the file name is too long");
        const signals_blocked blocked;
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0)
            throw output_failure("cannot create: " + system_error_text());
        std::memcpy(pending_temp, path_.c_str(), path_.size() + 1);
        pending_temp_set = 1;
    }
    ~temporary_file()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_) {
            const signals_blocked blocked;
            ::unlink(path_.c_str());
            pending_temp_set = 0;
        }
    }
    temporary_file(const temporary_file &) = delete;
    temporary_file &operator=(const temporary_file &) = delete;

    [[nodiscard]] int fd() const { return fd_; }

    // Gives the file its mode, closes it and renames it onto the target.
    void commit(mode_t mode)
    {
        if (::fchmod(fd_, mode) != 0)
            throw output_failure("cannot write: " + system_error_text());
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            throw output_failure("cannot write: " + system_error_text());
        const signals_blocked blocked;
        if (std::rename(path_.c_str(), target_.c_str()) != 0)
            throw output_failure("cannot write: " + system_error_text());
        committed_ = true;
        pending_temp_set = 0;
    }

  private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
};

// The file a path finally names, following symbolic links (also one whose target does not exist
// yet), so that writing replaces the target and keeps the link.
std::string final_target(const std::string &path)
{
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {
        };
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
        if (n < 0)
            throw output_failure("cannot follow the symbolic link: " + system_error_text());
        link.resize(static_cast<std::size_t>(n));
        if (link.empty() || link[0] != '/') {
            const std::size_t slash = p.rfind('/');
            if (slash != std::string::npos)
                link = p.substr(0, slash + 1) + link;
        }
        p = link;
    }
    throw output_failure("too many levels of symbolic links");
}

mode_t new_file_mode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Produces the file's bytes into fd; seekable tells whether the descriptor is a regular file.
using producer = std::function<void(int fd, bool seekable)>;

void write_via(const std::string &path, const write_options &how, const producer &produce)
{
    if (path == "-") {
        if (::isatty(STDOUT_FILENO) == 1)
            throw usage_error("will not write a binary image to a terminal; redirect standard output or name a file");
        produce(STDOUT_FILENO, false);
        return;
    }
    const std::string target = final_target(path);
    struct stat st {
    };
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        throw output_failure("is a folder");
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe (/dev/null, a FIFO) is written into, never replaced.
        const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0)
            throw output_failure("cannot open: " + system_error_text());
        try {
            produce(fd, false);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            throw output_failure("cannot write: " + system_error_text());
        return;
    }
    // Like rm and cp without -f: a file without write permission is not replaced unless forced,
    // judged by its permission bits so that running as root does not change the answer.
    if (exists && (st.st_mode & 0222) == 0 && !how.force)
        throw output_failure("is write-protected; use --force to replace it");
    temporary_file temp(target);
    produce(temp.fd(), true);
    // A replaced file keeps its permissions; a new one gets those of any new file.
    temp.commit(exists ? (st.st_mode & 07777) : new_file_mode());
}

void write_bytes(int fd, std::span<const uint8_t> data)
{
    if (!write_all(fd, data))
        throw output_failure("cannot write: " + system_error_text());
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
    case file_format::png:
        return "PNG";
    case file_format::jpeg:
        return "JPEG";
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
    if (starts("\x89PNG\r\n\x1a\n"))
        return file_format::png;
    if (starts("\xff\xd8\xff"))
        return file_format::jpeg;
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
    if (ext == "png")
        return file_format::png;
    return std::nullopt;
}

picture load_picture(std::span<const uint8_t> data, const load_options &options, load_facts *facts)
{
    const std::optional<file_format> format = sniff_format(data);
    if (!format)
        throw failure(data.empty() ? "empty file" : "unknown file format (not BMP, GIF, TIFF, PNG or JPEG)");
    load_facts local;
    load_facts &f = facts != nullptr ? *facts : local;
    f.format = *format;
    f.images = 1;
    f.fourth = sample_meaning::unspecified;
    switch (*format) {
    case file_format::bmp:
        if (options.image != 0)
            throw failure("a bitmap holds one image; there is no image " + std::to_string(options.image));
        return read_bmp(data);
    case file_format::gif:
        return read_gif(data, options.image, &f.images, options.progress);
    case file_format::tif:
        return read_tiff(data, {options.threads, options.image, options.progress}, &f.images, &f.fourth);
    case file_format::png:
        if (options.image != 0)
            throw failure("a PNG file holds one image; there is no image " + std::to_string(options.image));
        return read_png(data, &f.fourth, options.progress);
    case file_format::jpeg:
        if (options.image != 0)
            throw failure("a JPEG file holds one image; there is no image " + std::to_string(options.image));
        return read_jpeg(data, options.progress);
    }
    throw failure("unknown file format");
}

namespace
{

tiff_write_options tiff_options_for(const picture &image, const save_options &options)
{
    tiff_write_options o;
    o.threads = options.threads;
    o.fourth = options.fourth;
    o.progress = options.progress;
    switch (options.predictor) {
    case save_options::predictor_choice::on:
        o.predictor = true;
        break;
    case save_options::predictor_choice::off:
        o.predictor = false;
        break;
    case save_options::predictor_choice::automatic:
        o.predictor = predictor_suits(image);
        break;
    }
    return o;
}

gif_write_options gif_options_for(const save_options &options)
{
    gif_write_options o;
    o.interlaced = options.interlace;
    o.transparent = options.transparent;
    o.colours = options.colours;
    o.dither = options.dither;
    o.exact = options.exact;
    o.fourth = options.fourth;
    o.progress = options.progress;
    return o;
}

} // namespace

std::vector<uint8_t> save_picture(const picture &image, file_format format, const save_options &options)
{
    switch (format) {
    case file_format::bmp:
        if (options.fourth != sample_meaning::unspecified)
            warn("BMP keeps the alpha bytes but readers take them as padding");
        return write_bmp(image);
    case file_format::gif:
        return write_gif(image, gif_options_for(options));
    case file_format::tif:
        return write_tiff(image, tiff_options_for(image, options));
    case file_format::png:
        return write_png(image, options.fourth, options.progress);
    case file_format::jpeg:
        break;
    }
    throw failure("JPEG is read but not written");
}

void write_picture_file(const std::string &path, row_source &source, file_format format, const save_options &options,
                        const write_options &how)
{
    write_via(path, how, [&](int fd, bool seekable) {
        if (format == file_format::tif && seekable) {
            write_tiff_file(fd, source, tiff_options_for(source.shape(), options));
            return;
        }
        const std::vector<uint8_t> bytes = save_picture(source.take_all(), format, options);
        write_bytes(fd, bytes);
    });
}

void write_output_file(const std::string &path, std::span<const uint8_t> data, const write_options &how)
{
    write_via(path, how, [&](int fd, bool) { write_bytes(fd, data); });
}

std::unique_ptr<row_source> open_picture_file(const std::string &path, const load_options &options, load_facts *facts)
{
    load_facts local;
    load_facts &f = facts != nullptr ? *facts : local;
    f = load_facts{};
    if (path != "-") {
        // A regular file in a format that reads in pieces is read as the rows are wanted.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {
        };
        uint8_t head[8] = {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head)) {
            const std::optional<file_format> format = sniff_format(head);
            if (format == file_format::tif) {
                f.format = file_format::tif;
                return open_tiff(fd, {options.threads, options.image, options.progress}, &f.images, &f.fourth);
            }
            if ((format == file_format::png || format == file_format::jpeg) && options.image == 0) {
                std::FILE *stream = ::fdopen(fd, "rb");
                if (stream == nullptr) {
                    ::close(fd);
                    throw failure("cannot read: " + system_error_text());
                }
                f.format = *format;
                return format == file_format::png ? open_png(stream, &f.fourth, options.progress)
                                                  : open_jpeg(stream, options.progress);
            }
            if (format == file_format::bmp && options.image == 0) {
                f.format = file_format::bmp;
                return open_bmp(fd, options.progress);
            }
        }
        if (fd >= 0)
            ::close(fd);
    }
    const std::vector<uint8_t> data = read_input_file(path);
    return std::make_unique<whole_picture>(load_picture(data, options, &f));
}

picture load_picture_file(const std::string &path, const load_options &options, load_facts *facts)
{
    return open_picture_file(path, options, facts)->take_all();
}

std::vector<uint8_t> read_input_file(const std::string &path)
{
    const bool standard = path == "-";
    const int fd = standard ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw failure("cannot open: " + system_error_text());
    struct stat st {
    };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (!standard)
            ::close(fd);
        throw failure("is a folder, not an image file");
    }
    std::vector<uint8_t> data;
    if (S_ISREG(st.st_mode) && st.st_size > 0)
        data.reserve(static_cast<std::size_t>(st.st_size));
    uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            if (!standard)
                ::close(fd);
            throw failure("cannot read: " + system_error_text(error));
        }
        if (n == 0)
            break;
        data.insert(data.end(), buffer, buffer + n);
    }
    if (!standard)
        ::close(fd);
    return data;
}

} // namespace orveln1::tool
