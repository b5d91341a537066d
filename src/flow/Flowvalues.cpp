#include "flow/Flowvalues.h"

#include "toolkit/Exception.h"

namespace tolm {

void TFlowPicture::SetPixelFormat(int format) {
    if (format < 0 || format > 15)
        throw EConvertError("Picture pixel format " + std::to_string(format) + " is not a hex digit");
    pixelFormat_ = format;
}

void TFlowPicture::SetSize(int width, int height) {
    if (width < 0 || height < 0 || width > MaxSide || height > MaxSide ||
        static_cast<int64_t>(width) * height > MaxPixels)
        throw EConvertError("Picture size " + std::to_string(width) + " x " + std::to_string(height) +
                            " is out of range");
    if (width == width_ && height == height_) return;
    std::vector<TColor> resized(static_cast<size_t>(width) * height, clWhite);
    for (int y = 0; y < height && y < height_; ++y)
        for (int x = 0; x < width && x < width_; ++x)
            resized[static_cast<size_t>(y) * width + x] = pixels_[static_cast<size_t>(y) * width_ + x];
    pixels_ = std::move(resized);
    width_ = width;
    height_ = height;
}

TColor TFlowPicture::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return clWhite;
    return pixels_[static_cast<size_t>(y) * width_ + x];
}

void TFlowPicture::SetPixel(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<size_t>(y) * width_ + x] = color & 0xFFFFFF;
}

}  // namespace tolm
