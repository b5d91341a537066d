#pragma once
// Value types of the flow-diagram component: colours, fonts, pictures, points,
// rectangles and the layout enumerations. They carry no widget types, so the
// diagram model and its file format work without a display.
#include <cstdint>
#include <string>
#include <vector>

namespace tolm {

// 0x00BBGGRR: red in the low byte.
using TColor = uint32_t;

constexpr TColor RgbColor(int red, int green, int blue) {
    return static_cast<TColor>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int RedOf(TColor c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

// Where a node's text or picture sits in its box; the numbers 0-8 are the
// ones stored in diagram files.
enum class TLayout : int {
    Left_Justify_Top,
    Left_Justify_Middle,
    Left_Justify_Bottom,
    Right_Justify_Top,
    Right_Justify_Middle,
    Right_Justify_Bottom,
    Center_Top,
    Center_Middle,
    Center_Bottom,
};

enum class TGradientStyle : int { gsHorizontal, gsVertical, gsRectangle, gsVertCenter, gsHorizCenter };

enum class TGridStyle : int { gsPixels, gsLines, gsDotted_Lines, gsNull };

struct TFlowPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TFlowPoint&) const = default;
};

// Edges, not size: Right and Bottom are the first column and row outside.
struct TFlowRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TFlowRect&) const = default;
};

struct TFontStyles {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    bool operator==(const TFontStyles&) const = default;
};

// The font of a node's text. Charset 1 is the "default" character set.
struct TFlowFont {
    int Charset = 1;
    std::string Name = "Times New Roman";
    int Size = 8;  // points
    TFontStyles Style{true, true, false, false};
    TColor Color = clBlack;
    bool operator==(const TFlowFont&) const = default;
};

// A picture of width x height pixels with a pixel-format number (one hex
// digit in files). Pixels are full colours whatever the format says; the
// format number is kept so that it survives a save and a read.
class TFlowPicture {
public:
    // Largest side the file format can state (four hex digits), and a cap on
    // the pixel count so that a corrupt size cannot exhaust memory.
    static constexpr int MaxSide = 0xFFFF;
    static constexpr int64_t MaxPixels = 4096 * 4096;

    int PixelFormat() const { return pixelFormat_; }
    void SetPixelFormat(int format);  // 0..15, else EConvertError

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    // Resizes; pixels inside both sizes stay, new ones are white. Sides outside
    // 0..MaxSide or more than MaxPixels pixels raise EConvertError.
    void SetSize(int width, int height);

    // Outside the picture: Pixel gives white, SetPixel does nothing.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    // Pixels of TransparentColor are not drawn when Transparent is set.
    bool Transparent = true;
    TColor TransparentColor = clWhite;

    bool operator==(const TFlowPicture&) const = default;

private:
    int pixelFormat_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::vector<TColor> pixels_;  // row by row
};

}  // namespace tolm
