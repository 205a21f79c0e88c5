// SPDX-License-Identifier: MIT
// A picture read a band of rows at a time, top to bottom, so that a conversion from a file that can
// be read in pieces into one that is written in pieces holds only the rows in flight.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "orveln1.hpp"

namespace orveln1::tool
{

class row_source
{
  public:
    row_source() = default;
    virtual ~row_source() = default;
    row_source(const row_source &) = delete;
    row_source &operator=(const row_source &) = delete;

    // Size, depth, palette and transparent index of the picture; its pixels stay empty.
    [[nodiscard]] const picture &shape() const { return shape_; }

    // Fills rows at .. at + count - 1 of band with the picture's rows first .. first + count - 1.
    // Calls ask for rows in increasing order without overlap; band has the picture's width and depth.
    virtual void read_rows(int32_t first, int32_t count, picture &band, int32_t at) = 0;

    // The whole picture; the source is used up.
    [[nodiscard]] virtual picture take_all()
    {
        picture image = make_picture(shape_.width, shape_.height, shape_.depth);
        image.palette = shape_.palette;
        image.transparent_index = shape_.transparent_index;
        if (image.height > 0)
            read_rows(0, image.height, image, 0);
        return image;
    }

  protected:
    picture shape_;
};

// A picture already whole in memory, offered as a source.
class whole_picture final : public row_source
{
  public:
    explicit whole_picture(picture image) : image_(std::move(image))
    {
        shape_.width = image_.width;
        shape_.height = image_.height;
        shape_.depth = image_.depth;
        shape_.palette = image_.palette;
        shape_.transparent_index = image_.transparent_index;
    }

    void read_rows(int32_t first, int32_t count, picture &band, int32_t at) override
    {
        for (int32_t y = 0; y < count; ++y)
            std::memcpy(band.row(at + y), image_.row(first + y), image_.stride());
    }

    [[nodiscard]] picture take_all() override { return std::move(image_); }

  private:
    picture image_;
};

} // namespace orveln1::tool
