#pragma once
// The picture sizes the viewer plays: each side 16 to 8192 pixels and at
// most the area of 8192 x 4320. A size read from a file (trailer, track
// table, stream header) is checked against this where it is read, so a
// damaged or hostile size never reaches an allocation; the arithmetic is
// done in 64 bits.
#include <cstdint>

namespace PictureSize {

constexpr int64_t MinSide = 16;
constexpr int64_t MaxSide = 8192;
constexpr int64_t MaxArea = int64_t(8192) * 4320;
// What a channel gets when its size is unknown or refused.
constexpr int DefaultWidth = 1280;
constexpr int DefaultHeight = 720;

constexpr bool isPlayable(int64_t width, int64_t height)
{
    return width >= MinSide && height >= MinSide && width <= MaxSide && height <= MaxSide
        && width * height <= MaxArea;
}

// Bytes of a packed YUV 4:2:0 picture: the Y plane, then U and V planes of
// half the width and height, rounded up.
constexpr int64_t yuv420Bytes(int64_t width, int64_t height)
{
    return width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
}

} // namespace PictureSize
