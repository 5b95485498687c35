#pragma once
// Where the three planes of a YUV 4:2:0 picture lie in memory: a decoder's
// pooled picture with padded rows, or a packed picture (rows without
// padding, Y then U then V). Chroma planes are half the size, rounded up.
#include <cstddef>
#include <cstdint>

struct PicturePlanes
{
    const uint8_t *data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
    int width = 0;
    int height = 0;

    bool isValid() const
    {
        return data[0] && data[1] && data[2] && width > 0 && height > 0 && stride[0] >= width
            && stride[1] >= chromaWidth() && stride[2] >= chromaWidth();
    }
    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }
    int planeWidth(int plane) const { return plane ? chromaWidth() : width; }
    int planeHeight(int plane) const { return plane ? chromaHeight() : height; }

    // A packed picture of width x height starting at bytes.
    static PicturePlanes packed(const uint8_t *bytes, int width, int height)
    {
        PicturePlanes p;
        if (!bytes || width <= 0 || height <= 0)
            return p;
        const size_t luma = size_t(width) * size_t(height);
        const size_t chroma = size_t((width + 1) / 2) * size_t((height + 1) / 2);
        p.data[0] = bytes;
        p.data[1] = bytes + luma;
        p.data[2] = bytes + luma + chroma;
        p.stride[0] = width;
        p.stride[1] = p.stride[2] = (width + 1) / 2;
        p.width = width;
        p.height = height;
        return p;
    }
};
