// SPDX-License-Identifier: MIT
// orveln1.hpp: the in-memory C++ interface of orveln1: whole images and byte vectors in, result
// codes out, with no callback registry, so calls on different threads may run at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "orveln1.h"

namespace orveln1
{

// One palette entry.
struct colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    friend bool operator==(const colour &, const colour &) = default;
};

// An image in the packed bitmap layout that the codecs exchange rows in: depth 1 eight pixels a
// byte (leftmost in the high bit), depth 4 two a byte (leftmost in the high nibble), depth 8 one
// palette index a byte, depth 24 blue-green-red and depth 32 blue-green-red-fourth. Rows are stored
// top row first, each row_stride(width, depth) bytes (padded to a multiple of 4).
struct picture {
    int32_t width = 0;
    int32_t height = 0;
    int depth = 8;
    std::vector<colour> palette; // up to 2^depth entries for depths 1, 4 and 8; missing ones are black
    int transparent_index = -1;  // GIF transparent colour, or -1 for none
    std::vector<uint8_t> pixels; // height * row_stride bytes

    [[nodiscard]] std::size_t stride() const noexcept;
    [[nodiscard]] uint8_t *row(int32_t y) noexcept { return pixels.data() + static_cast<std::size_t>(y) * stride(); }
    [[nodiscard]] const uint8_t *row(int32_t y) const noexcept
    {
        return pixels.data() + static_cast<std::size_t>(y) * stride();
    }
};

// Bytes of one stored row: the unpadded length for the depth, rounded up to a multiple of 4.
[[nodiscard]] std::size_t row_stride(int32_t width, int depth) noexcept;
// A picture of the given size and depth with its pixel rows allocated and zeroed.
[[nodiscard]] picture make_picture(int32_t width, int32_t height, int depth);

// The outcome of a call: the library's result code (0 or more is success; the negative values are
// the ORVELN1_ERR_* codes) and, on success, the value.
template <typename T> struct result {
    int32_t code = 0;
    T value{};
    [[nodiscard]] bool ok() const noexcept { return code >= 0; }
};

using byte_vector = std::vector<uint8_t>;

// A whole single-image GIF stream (GIF87a, or GIF89a when transparent_index is set) for a picture
// of depth 4 or 8; depth 1 is widened to 4 on the way, since GIF image data needs a code size of 2
// or more. Other depths give ORVELN1_ERR_UNSUPPORTED_DEPTH; the encoder's failures come back as
// ORVELN1_ERR_WRITE, a lack of memory for the output as ORVELN1_ERR_NO_MEMORY.
[[nodiscard]] result<byte_vector> encode_gif_file(const picture &image, bool interlaced) noexcept;

// What the GIF container says about one image, enough to decode its image data.
struct gif_image_data {
    int32_t width = 0;
    int32_t height = 0;
    // The image descriptor's packed byte in the low byte and the LZW minimum code size in the high
    // byte, as the file has them.
    int32_t code_size_word = 0;
    std::span<const uint8_t> sub_blocks; // from the first data sub-block on (terminator included)
};

// Why decoding of GIF image data stopped.
enum class gif_stop : uint8_t {
    complete,     // the image's last row was decoded; the data after it is not read
    end_code,     // the end code came before the image was complete
    unknown_code, // a code the table cannot name yet (the data is damaged): above the next free
                  // code, or right after a clear code one above 255, which is no byte
    data_ended,   // the sub-blocks (up to the block terminator or the span's end) hold no whole code more
};

// Decoded GIF pixels: depth 8 (one palette index a byte, no palette set), top row first. Rows the
// data never completes stay 0; rows_delivered counts the distinct rows inside the image that the
// data did complete.
struct gif_decoded {
    picture image;
    int32_t rows_delivered = 0;
    gif_stop stop = gif_stop::complete;
    // Where decoding stopped, as the number of pixels the codes gave before the end code, the
    // unknown code or the end of the data: it lies in row stop_pixel / width of the rows in the
    // order the data sends them (top first, or pass by pass when interlaced). width * height when
    // complete.
    int64_t stop_pixel = 0;
    bool leading_clear_code = true; // the data's first code was a clear code
};

struct gif_decode_options {
    // Decode data that does not begin with a clear code (as some encoders write it) from the state
    // a clear code leaves; without this such data is refused, as the decode_gif export refuses it.
    bool start_cleared = false;
};

// Decodes the image data of one GIF image. Result codes: 0, ORVELN1_ERR_BAD_DATA (the data does not
// start with a clear code and options.start_cleared is false, or a width or height below 1),
// ORVELN1_ERR_NO_MEMORY.
[[nodiscard]] result<gif_decoded> decode_gif_data(const gif_image_data &data, gif_decode_options options = {}) noexcept;

// One image of a GIF stream as its records describe it. The spans point into the bytes that were
// read, which must outlive them.
struct gif_image {
    int32_t left = 0; // position and size on the logical screen
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool interlaced = false;
    bool local_colour_table = false;
    // Red, green, blue per entry: the image's local table when it has one, else the stream's global
    // table; empty when there is neither.
    std::span<const uint8_t> colour_table;
    // From the graphic control extension before the image (the last one, when several are); the
    // values below keep their defaults when there is none.
    bool graphic_control = false;
    int32_t transparent_index = -1; // -1: no transparent colour
    int32_t delay = 0;              // hundredths of a second
    int disposal = 0;               // disposal method, 0 to 7
    // The descriptor's packed byte in the low byte and the LZW minimum code size in the next, as
    // decode_gif_data takes them.
    int32_t code_size_word = 0;
    // The image data from the first sub-block's length byte through the block terminator; when the
    // stream ends inside the data, everything up to its end, and data_complete is false.
    std::span<const uint8_t> sub_blocks;
    bool data_complete = false;

    // The colour table as palette entries.
    [[nodiscard]] std::vector<colour> palette() const;
    // What decode_gif_data needs to decode this image.
    [[nodiscard]] gif_image_data data() const noexcept;
};

// What the records of a GIF stream hold.
struct gif_stream {
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    int background_index = 0;
    std::span<const uint8_t> global_colour_table; // red, green, blue per entry; empty when absent
    std::vector<gif_image> images;                // in stream order: every image whose data begins inside the bytes
    std::size_t bytes_read = 0;                   // where the walk stopped: just past the trailer when it was reached
};

// Walks the records of a GIF stream (signature, logical screen, global colour table, extensions,
// images with their local tables and data sub-blocks) up to the trailer, never reading outside
// bytes whatever they hold. It only walks records: the image data is neither checked nor decoded.
// Result codes: 0 when the trailer was reached after at least one image; ORVELN1_ERR_NOT_GIF;
// ORVELN1_ERR_GIF_TRUNCATED (the bytes end before the trailer); ORVELN1_ERR_GIF_BAD_RECORD (a byte
// where a record should begin that begins none); ORVELN1_ERR_GIF_NO_IMAGE (the trailer before any
// image); ORVELN1_ERR_NO_MEMORY. Unlike other calls, the value is kept on failure: it holds what was
// read before the walk stopped, so the images of a cut or damaged stream can still be decoded.
[[nodiscard]] result<gif_stream> read_gif_stream(std::span<const uint8_t> bytes) noexcept;

// The contents of the data sub-blocks that begin at sub_blocks (a length byte first), up to the
// block terminator or the end of the span; a sub-block cut short by the end gives what is there.
[[nodiscard]] std::vector<std::span<const uint8_t>> gif_sub_block_contents(std::span<const uint8_t> sub_blocks);

// Decodes image image_index (0 is the first) of a whole GIF stream: the picture at depth 8 with the
// image's colour table as its palette and the transparent index of its graphic control extension.
// An image whose records are whole decodes even when the stream is cut or damaged after its data
// begins (rows_delivered then tells how far the data went). Result codes: those of decode_gif_data;
// ORVELN1_ERR_GIF_NO_IMAGE when the stream holds no image image_index; the reader's failure when it
// stopped before that image.
[[nodiscard]] result<gif_decoded> decode_gif_file(std::span<const uint8_t> file, int image_index = 0,
                                                  gif_decode_options options = {}) noexcept;

// A short English text for a result code: "success" for 0 and above, a name for each
// ORVELN1_ERR_* code, and "host callback refused (N)" for any other negative value, which can only
// have come from a host's callback.
[[nodiscard]] std::string error_text(int32_t code);

// How the rows of a TIFF strip relate to a picture.
struct tif_strip_format {
    int32_t width = 0;
    int depth = 8;                     // 1, 4, 8, 16, 24 or 32
    bool swap_red_blue_32 = false;     // depth 32: store the first and third byte of each pixel exchanged
    bool horizontal_predictor = false; // TIFF predictor 2 over 8-bit samples (depths 8, 24 and 32)
};

// One TIFF LZW strip holding rows first_row .. first_row + row_count - 1 of the picture. Depth 24
// rows are stored red-green-blue, as TIFF has them. Result codes: 0, ORVELN1_ERR_NO_MEMORY,
// ORVELN1_ERR_UNSUPPORTED_DEPTH (the predictor on a depth below 8 or at 16, or a depth the codec
// has no row length for), ORVELN1_ERR_BAD_DATA (rows outside the picture).
[[nodiscard]] result<byte_vector> encode_tif_strip(const picture &image, const tif_strip_format &format,
                                                   int32_t first_row, int32_t row_count) noexcept;

// Decodes one TIFF LZW strip into rows first_row .. first_row + row_count - 1 of image (which the
// caller has made with make_picture for the format's width and depth), undoing the predictor and
// turning red-green-blue back into the bitmap order. Rows the strip does not fill keep what the
// decoder left there (the strip's last partial row, or zeros). Result codes: 1,
// ORVELN1_ERR_BAD_DATA, ORVELN1_ERR_NO_MEMORY, ORVELN1_ERR_UNSUPPORTED_DEPTH.
[[nodiscard]] int32_t decode_tif_strip(std::span<const uint8_t> strip, const tif_strip_format &format, picture &image,
                                       int32_t first_row, int32_t row_count) noexcept;

// Undoes / applies TIFF predictor 2 on one row of 8-bit samples, samples_per_pixel apart.
void undo_horizontal_predictor(uint8_t *row, std::size_t row_bytes, int samples_per_pixel) noexcept;
void apply_horizontal_predictor(uint8_t *row, std::size_t row_bytes, int samples_per_pixel) noexcept;

// A TIFF LZW strip as the bytes it holds, with no rows: for hosts that know a strip only as bytes
// (a container's strips and tiles, a chunked array's chunks), or that do not know how many bytes
// it decodes to.

// Caller-owned memory that decode_tif_bytes fills from data[0] on. When the decoded bytes need more
// than capacity bytes, grow (when set) is called with the total wanted: it makes data hold at least
// that many bytes, the ones placed so far kept at the front, and sets data and capacity, or returns
// false when it cannot (the decode then fails with ORVELN1_ERR_NO_MEMORY). Without grow, capacity is
// the most that is decoded. grow is called on the decoding thread, from inside the call.
struct byte_sink {
    uint8_t *data = nullptr;
    std::size_t capacity = 0;
    bool (*grow)(byte_sink &sink, std::size_t wanted) noexcept = nullptr;
    void *context = nullptr; // the caller's, for grow
};

// What decode_tif_bytes placed: size bytes from data[0] on. complete: the strip's end code came
// after them. Otherwise the strip either ended without an end code (it then decodes, as libtiff
// reads such strips, to the bytes it holds: truncated) or holds more than the limit (limited).
struct tif_bytes_decoded {
    std::size_t size = 0;
    bool complete = false;
    bool truncated = false;
    bool limited = false;
};

// Decodes one TIFF LZW strip (most significant bit first, the code width widening one code early)
// into the sink, decoding it once and no further than limit bytes. A strip that ends before its
// first code decodes to no bytes. Result codes: 0; ORVELN1_ERR_BAD_DATA (the first code is not a
// clear code, or a code lies above the next free one); ORVELN1_ERR_NO_MEMORY (grow refused, or the
// decoder's blocks).
[[nodiscard]] result<tif_bytes_decoded> decode_tif_bytes(std::span<const uint8_t> strip, byte_sink &sink,
                                                         std::size_t limit = SIZE_MAX) noexcept;
// The same into a byte vector of exactly the bytes decoded (at most limit).
[[nodiscard]] result<byte_vector> decode_tif_bytes(std::span<const uint8_t> strip,
                                                   std::size_t limit = SIZE_MAX) noexcept;

// The most bytes encode_tif_bytes can write for size bytes of input.
[[nodiscard]] std::size_t encode_tif_bytes_bound(std::size_t size) noexcept;
// Codes bytes as one TIFF LZW strip: the strip encode_tif_strip writes for rows holding the same
// bytes. Result codes: 0, ORVELN1_ERR_NO_MEMORY.
[[nodiscard]] result<byte_vector> encode_tif_bytes(std::span<const uint8_t> bytes) noexcept;
// The same into out; the value is the strip's length. ORVELN1_ERR_WRITE when the strip does not fit
// (out then holds its first bytes); encode_tif_bytes_bound bytes always suffice.
[[nodiscard]] result<std::size_t> encode_tif_bytes(std::span<const uint8_t> bytes, std::span<uint8_t> out) noexcept;

} // namespace orveln1
