// SPDX-License-Identifier: MIT
// orveln1._orveln1: the Python binding of the in-memory C++ interface. Every call takes its input
// buffers, lets go of the interpreter lock while the codec runs (the C++ interface keeps no shared
// state, so calls on many threads run at once) and takes the lock again only to grow a result.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "orveln1.hpp"

namespace py = pybind11;

// The docstrings of the two strip calls; the first line is the signature inspect reads.
constexpr const char LZW_DECODE_DOC[] =
    "lzw_decode($module, data, /, *, out=None)\n--\n\n"
    "Decodes one TIFF LZW strip (codes most significant bit first, the width stepping one code early),\n"
    "decoding it once.\n"
    "\n"
    "data: any contiguous buffer (bytes, bytearray, memoryview, numpy array) holding the strip.\n"
    "out: None: returns bytes of exactly the decoded length. An int N: returns bytes of at most N (the\n"
    "    rest of the strip is not decoded). A writable contiguous buffer: filled in place; returns a\n"
    "    memoryview of the filled part (at most its size).\n"
    "\n"
    "A strip that ends without its end code decodes to the bytes it holds, as libtiff reads it; one\n"
    "that ends before its first code decodes to b\"\". Raises Error (code ERR_BAD_DATA) when the first\n"
    "code is not a clear code or a code lies above the next free one.\n";
constexpr const char LZW_ENCODE_DOC[] =
    "lzw_encode($module, data, /, *, out=None)\n--\n\n"
    "Encodes the bytes of data (any contiguous buffer) as one TIFF LZW strip, the strip libtiff reads.\n"
    "\n"
    "out: None: returns bytes. An int N: returns bytes, raising Error (code ERR_WRITE) when the strip\n"
    "    needs more than N. A writable contiguous buffer: filled in place; returns a memoryview of the\n"
    "    filled part, or raises Error (code ERR_WRITE) when the strip does not fit.\n";

using namespace orveln1;

namespace
{

PyObject *error_type = nullptr;

// Raises orveln1.Error for a result code: the message of error_text, with what went wrong where the
// code alone does not say it.
[[noreturn]] void raise_error(int32_t code, const std::string &detail = {})
{
    if (code == ORVELN1_ERR_NO_MEMORY)
        throw std::bad_alloc();
    std::string message = error_text(code);
    if (!detail.empty())
        message += ": " + detail;
    py::object exc = py::reinterpret_borrow<py::object>(error_type)(message);
    exc.attr("code") = code;
    PyErr_SetObject(error_type, exc.ptr());
    throw py::error_already_set();
}

// A contiguous buffer held for the length of a call (released on every way out). Holding it keeps
// the exporter from resizing or freeing the memory while the interpreter lock is let go.
class held_buffer
{
  public:
    held_buffer(const py::handle &object, bool writable)
    {
        const int flags = writable ? PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS : PyBUF_ANY_CONTIGUOUS;
        if (PyObject_GetBuffer(object.ptr(), &view_, flags) != 0)
            throw py::error_already_set();
    }
    ~held_buffer() { PyBuffer_Release(&view_); }
    held_buffer(const held_buffer &) = delete;
    held_buffer &operator=(const held_buffer &) = delete;

    [[nodiscard]] uint8_t *data() const noexcept { return static_cast<uint8_t *>(view_.buf); }
    [[nodiscard]] std::size_t size() const noexcept { return static_cast<std::size_t>(view_.len); }
    [[nodiscard]] std::span<const uint8_t> span() const noexcept { return {data(), size()}; }

  private:
    Py_buffer view_{};
};

bool is_buffer(const py::handle &object)
{
    return PyObject_CheckBuffer(object.ptr()) != 0;
}

std::size_t size_argument(const py::handle &out)
{
    if (!PyLong_Check(out.ptr()))
        throw py::type_error("out must be None, an int or a writable buffer");
    const auto n = out.cast<long long>();
    if (n < 0)
        throw py::value_error("out must not be negative");
    return static_cast<std::size_t>(n);
}

// A bytes object that a call fills without the interpreter lock and resizes with it.
class bytes_result
{
  public:
    explicit bytes_result(std::size_t capacity)
        : object_(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity)))
    {
        if (object_ == nullptr)
            throw py::error_already_set();
    }
    ~bytes_result() { Py_XDECREF(object_); }
    bytes_result(const bytes_result &) = delete;
    bytes_result &operator=(const bytes_result &) = delete;

    [[nodiscard]] uint8_t *data() const noexcept { return reinterpret_cast<uint8_t *>(PyBytes_AS_STRING(object_)); }
    [[nodiscard]] std::size_t size() const noexcept { return static_cast<std::size_t>(PyBytes_GET_SIZE(object_)); }

    // Called with the lock held. False (the object gone, the error cleared) when memory ran out.
    bool resize(std::size_t n) noexcept
    {
        if (_PyBytes_Resize(&object_, static_cast<Py_ssize_t>(n)) == 0)
            return true;
        PyErr_Clear();
        return false;
    }
    py::object release(std::size_t n)
    {
        if (n != size() && !resize(n))
            throw std::bad_alloc();
        return py::reinterpret_steal<py::object>(std::exchange(object_, nullptr));
    }

    // The sink's growth: the decoder runs without the lock, and takes it only here.
    static bool grow(byte_sink &sink, std::size_t wanted) noexcept
    {
        auto &self = *static_cast<bytes_result *>(sink.context);
        const py::gil_scoped_acquire lock;
        if (!self.resize(wanted))
            return false;
        sink.data = self.data();
        sink.capacity = self.size();
        return true;
    }

  private:
    PyObject *object_;
};

// The filled part of a writable buffer: a view of its first n bytes, as unsigned bytes.
py::object filled_view(const py::handle &out, std::size_t n)
{
    py::object view = py::reinterpret_steal<py::object>(PyMemoryView_FromObject(out.ptr()));
    if (!view)
        throw py::error_already_set();
    const Py_buffer *b = PyMemoryView_GET_BUFFER(view.ptr());
    if (b->ndim != 1 || b->format == nullptr || std::strcmp(b->format, "B") != 0)
        view = view.attr("cast")("B");
    py::object slice = py::reinterpret_steal<py::object>(PySlice_New(nullptr, py::int_(n).ptr(), nullptr));
    PyObject *part = slice ? PyObject_GetItem(view.ptr(), slice.ptr()) : nullptr;
    if (part == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(part);
}

// The decoded size guessed for a strip: LZW seldom packs image data four times tighter. The sink
// grows when it does.
constexpr std::size_t GUESS_RATIO = 4;
constexpr std::size_t GUESS_MIN = 4096;
// A size given as out is taken as it stands up to this ratio to the strip; beyond, it is a cap only.
constexpr std::size_t TRUSTED_RATIO = 64;

py::object lzw_decode(const py::object &data, const py::object &out)
{
    const held_buffer in(data, false);
    if (!out.is_none() && is_buffer(out)) {
        const held_buffer target(out, true);
        byte_sink sink{target.data(), target.size()};
        result<tif_bytes_decoded> r;
        {
            const py::gil_scoped_release unlocked;
            r = decode_tif_bytes(in.span(), sink);
        }
        if (!r.ok())
            raise_error(r.code);
        return filled_view(out, r.value.size);
    }
    const std::size_t limit = out.is_none() ? std::numeric_limits<std::size_t>::max() : size_argument(out);
    const std::size_t guess = std::max(GUESS_MIN, in.size() * GUESS_RATIO);
    const std::size_t trusted = std::max(GUESS_MIN, in.size() * TRUSTED_RATIO);
    bytes_result bytes(limit <= trusted ? limit : std::min(limit, guess));
    byte_sink sink{bytes.data(), bytes.size(), bytes_result::grow, &bytes};
    result<tif_bytes_decoded> r;
    {
        const py::gil_scoped_release unlocked;
        r = decode_tif_bytes(in.span(), sink, limit);
    }
    if (!r.ok())
        raise_error(r.code);
    return bytes.release(r.value.size);
}

py::object lzw_encode(const py::object &data, const py::object &out)
{
    const held_buffer in(data, false);
    const std::size_t bound = encode_tif_bytes_bound(in.size());
    const auto too_small = [](std::size_t room) {
        raise_error(ORVELN1_ERR_WRITE, "the strip does not fit in out (" + std::to_string(room) + " bytes)");
    };
    if (!out.is_none() && is_buffer(out)) {
        const held_buffer target(out, true);
        result<std::size_t> r;
        {
            const py::gil_scoped_release unlocked;
            r = encode_tif_bytes(in.span(), {target.data(), target.size()});
        }
        if (r.code == ORVELN1_ERR_WRITE)
            too_small(target.size());
        if (!r.ok())
            raise_error(r.code);
        return filled_view(out, r.value);
    }
    const std::size_t room = out.is_none() ? bound : std::min(bound, size_argument(out));
    bytes_result bytes(room);
    result<std::size_t> r;
    {
        const py::gil_scoped_release unlocked;
        r = encode_tif_bytes(in.span(), {bytes.data(), bytes.size()});
    }
    if (r.code == ORVELN1_ERR_WRITE)
        too_small(room);
    if (!r.ok())
        raise_error(r.code);
    return bytes.release(r.value);
}

// One image of gif_read, as plain values: the Python side makes a GifImage of them.
py::tuple image_values(const gif_image &image, const gif_decoded &decoded)
{
    const picture &p = decoded.image;
    py::array_t<uint8_t> pixels({static_cast<py::ssize_t>(p.height), static_cast<py::ssize_t>(p.width)});
    uint8_t *to = pixels.mutable_data();
    for (int32_t y = 0; y < p.height; ++y)
        std::memcpy(to + static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width), p.row(y),
                    static_cast<std::size_t>(p.width));
    const std::size_t entries = image.colour_table.size() / 3;
    py::array_t<uint8_t> palette({static_cast<py::ssize_t>(entries), static_cast<py::ssize_t>(3)});
    if (entries != 0)
        std::memcpy(palette.mutable_data(), image.colour_table.data(), entries * 3);
    py::object transparent = py::none();
    if (image.transparent_index >= 0)
        transparent = py::int_(image.transparent_index);
    return py::make_tuple(pixels, palette, image.left, image.top, image.interlaced, transparent, image.delay,
                          image.disposal);
}

// Whether an image's data could fill it at all: a code takes at least 3 bits and names at most 4096
// pixels. An image that claims more is refused before its pixels are allocated (up to 4 GiB for a
// damaged size), since it could only come back incomplete.
constexpr uint64_t GIF_MOST_PIXELS_PER_DATA_BYTE = 8 * 4096 / 3 + 1;

bool data_can_fill(const gif_image &image)
{
    const auto pixels = static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height);
    return pixels <= (image.sub_blocks.size() + 1) * GIF_MOST_PIXELS_PER_DATA_BYTE;
}

py::list gif_read(const py::object &data)
{
    const held_buffer in(data, false);
    result<gif_stream> stream;
    std::vector<result<gif_decoded>> images;
    {
        const py::gil_scoped_release unlocked;
        stream = read_gif_stream(in.span());
        if (stream.ok()) {
            images.reserve(stream.value.images.size());
            for (const gif_image &image : stream.value.images) {
                if (!data_can_fill(image)) {
                    images.push_back({ORVELN1_ERR_BAD_DATA, {}});
                    break;
                }
                images.push_back(decode_gif_data(image.data()));
                if (!images.back().ok() || images.back().value.rows_delivered != image.height)
                    break;
            }
        }
    }
    if (!stream.ok())
        raise_error(stream.code, "after " + std::to_string(stream.value.images.size()) + " images");
    py::list out;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const gif_image &image = stream.value.images[i];
        const result<gif_decoded> &d = images[i];
        if (!d.ok())
            raise_error(d.code, "image " + std::to_string(i));
        if (d.value.rows_delivered != image.height)
            raise_error(ORVELN1_ERR_BAD_DATA, "image " + std::to_string(i) + " holds " +
                                                  std::to_string(d.value.rows_delivered) + " of its " +
                                                  std::to_string(image.height) + " rows");
        out.append(image_values(image, d.value));
    }
    return out;
}

py::bytes gif_write(const py::array_t<uint8_t, py::array::c_style | py::array::forcecast> &indices,
                    const py::array_t<uint8_t, py::array::c_style | py::array::forcecast> &palette, bool interlace,
                    const py::object &transparent)
{
    if (indices.ndim() != 2)
        throw py::value_error("indices must be a (height, width) array");
    if (palette.ndim() != 2 || palette.shape(1) != 3 || palette.shape(0) > 256)
        throw py::value_error("palette must be an (n, 3) array of at most 256 entries");
    const auto height = indices.shape(0);
    const auto width = indices.shape(1);
    if (width < 1 || height < 1 || width > 65535 || height > 65535)
        raise_error(ORVELN1_ERR_BAD_DATA, "width and height must be 1 to 65535");
    const auto entries = static_cast<int>(palette.shape(0));
    const int depth = entries <= 16 ? 4 : 8;
    picture p = make_picture(static_cast<int32_t>(width), static_cast<int32_t>(height), depth);
    for (int i = 0; i < entries; ++i)
        p.palette.push_back(colour{palette.at(i, 0), palette.at(i, 1), palette.at(i, 2)});
    if (!transparent.is_none()) {
        const int t = transparent.cast<int>();
        if (t < 0 || t >= (1 << depth))
            raise_error(ORVELN1_ERR_BAD_DATA, "transparent index " + std::to_string(t) + " outside the palette");
        p.transparent_index = t;
    }
    const uint8_t *from = indices.data();
    const int limit = std::max(entries, 1);
    for (py::ssize_t y = 0; y < height; ++y) {
        uint8_t *row = p.row(static_cast<int32_t>(y));
        for (py::ssize_t x = 0; x < width; ++x) {
            const uint8_t v = from[y * width + x];
            if (v >= limit)
                raise_error(ORVELN1_ERR_BAD_DATA, "index " + std::to_string(v) + " outside the palette of " +
                                                      std::to_string(entries) + " entries");
            if (depth == 8)
                row[x] = v;
            else
                row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? v << 4 : v);
        }
    }
    result<byte_vector> r;
    {
        const py::gil_scoped_release unlocked;
        r = encode_gif_file(p, interlace);
    }
    if (!r.ok())
        raise_error(r.code);
    return py::bytes(reinterpret_cast<const char *>(r.value.data()), static_cast<py::ssize_t>(r.value.size()));
}

// For bench/python_bench.py: seconds that `rounds` passes over the strips take through the C++
// interface alone, in one thread, with no interpreter in the loop. decode: decode_tif_bytes into
// memory of each strip's decoded size (`sizes`), made before the clock starts, as out=size is;
// decode_vector: decode_tif_bytes into a new byte vector; encode: encode_tif_bytes into a new
// byte vector. Returns -1 when a call fails or decodes fewer bytes than `sizes` says.
double cxx_seconds(const std::string &op, const std::vector<py::bytes> &items, int rounds,
                   const std::vector<std::size_t> &sizes)
{
    std::vector<std::string> strips;
    for (const py::bytes &b : items)
        strips.emplace_back(b);
    if (op == "decode" && sizes.size() != strips.size())
        throw py::value_error("decode needs the decoded size of every strip");
    const py::gil_scoped_release unlocked;
    std::vector<uint8_t> room(sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end()));
    bool failed = false;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < rounds; ++k)
        for (std::size_t i = 0; i < strips.size(); ++i) {
            const std::span<const uint8_t> in(reinterpret_cast<const uint8_t *>(strips[i].data()), strips[i].size());
            if (op == "decode") {
                byte_sink sink{room.data(), sizes[i]};
                const result<tif_bytes_decoded> r = decode_tif_bytes(in, sink);
                failed |= !r.ok() || r.value.size != sizes[i];
            } else if (op == "decode_vector") {
                failed |= !decode_tif_bytes(in).ok();
            } else {
                failed |= !encode_tif_bytes(in).ok();
            }
        }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return failed ? -1.0 : took.count();
}

// lzw_decode and lzw_encode are called once per strip, often on strips that decode in a few
// microseconds, so they take their arguments straight from the interpreter (vectorcall) rather than
// through the general dispatcher: (data, /, *, out=None).
template <py::object (*call)(const py::object &, const py::object &)>
PyObject *strip_call(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) noexcept
{
    PyObject *out = Py_None;
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "takes exactly one positional argument (data), %zd given", nargs);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        PyObject *name = PyTuple_GET_ITEM(kwnames, i);
        if (PyUnicode_CompareWithASCIIString(name, "out") != 0) {
            PyErr_Format(PyExc_TypeError, "got an unexpected keyword argument '%U'", name);
            return nullptr;
        }
        out = args[nargs + i];
    }
    try {
        return call(py::reinterpret_borrow<py::object>(args[0]), py::reinterpret_borrow<py::object>(out))
            .release()
            .ptr();
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (py::builtin_exception &e) {
        e.set_error();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

PyMethodDef strip_methods[] = {
    {"lzw_decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&strip_call<lzw_decode>)),
     METH_FASTCALL | METH_KEYWORDS, LZW_DECODE_DOC},
    {"lzw_encode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&strip_call<lzw_encode>)),
     METH_FASTCALL | METH_KEYWORDS, LZW_ENCODE_DOC},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PYBIND11_MODULE(_orveln1, m)
{
    m.doc() = "The compiled part of orveln1: TIFF LZW strips and GIF streams through the C++ interface.";
    m.attr("__version__") = ORVELN1_VERSION_STRING;

    py::dict attributes;
    attributes["code"] = py::int_(ORVELN1_ERR_BAD_DATA);
    attributes["__module__"] = "orveln1";
    error_type = PyErr_NewExceptionWithDoc("orveln1.Error",
                                           "A codec refused its input. .code is the library's result code "
                                           "(a negative ORVELN1_ERR_* value); the message is its error_text.",
                                           PyExc_ValueError, attributes.ptr());
    if (error_type == nullptr)
        throw py::error_already_set();
    m.add_object("Error", py::handle(error_type));

    m.attr("ERR_NO_MEMORY") = ORVELN1_ERR_NO_MEMORY;
    m.attr("ERR_BAD_DATA") = ORVELN1_ERR_BAD_DATA;
    m.attr("ERR_WRITE") = ORVELN1_ERR_WRITE;
    m.attr("ERR_UNSUPPORTED_DEPTH") = ORVELN1_ERR_UNSUPPORTED_DEPTH;
    m.attr("ERR_NOT_GIF") = ORVELN1_ERR_NOT_GIF;
    m.attr("ERR_GIF_TRUNCATED") = ORVELN1_ERR_GIF_TRUNCATED;
    m.attr("ERR_GIF_BAD_RECORD") = ORVELN1_ERR_GIF_BAD_RECORD;
    m.attr("ERR_GIF_NO_IMAGE") = ORVELN1_ERR_GIF_NO_IMAGE;

    for (PyMethodDef &def : strip_methods) {
        if (def.ml_name == nullptr)
            break;
        py::object function =
            py::reinterpret_steal<py::object>(PyCFunction_NewEx(&def, m.ptr(), m.attr("__name__").ptr()));
        if (!function)
            throw py::error_already_set();
        m.add_object(def.ml_name, function);
    }
    m.def("gif_read", &gif_read, py::arg("data"), py::pos_only(),
          "Every image of a GIF stream as (pixels, palette, left, top, interlaced, transparent, delay, disposal).");
    m.def("gif_write", &gif_write, py::arg("indices"), py::arg("palette"), py::pos_only(), py::kw_only(),
          py::arg("interlace") = false, py::arg("transparent") = py::none(),
          "One image as a whole GIF stream. See orveln1.gif_write.");
    m.def(
        "error_text", [](int32_t code) { return error_text(code); }, py::arg("code"),
        "The library's short English text for a result code: what str(Error) begins with.\n");
    m.def("_cxx_seconds", &cxx_seconds, py::arg("op"), py::arg("strips"), py::arg("rounds"),
          py::arg("sizes") = std::vector<std::size_t>{},
          "Benchmark helper: seconds for `rounds` passes over the strips through the C++ interface alone.");
}
