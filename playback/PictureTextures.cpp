#include "PictureTextures.h"

#include "LogCategories.h"

#include <QOpenGLContext>

#include <atomic>
#include <cstring>

#ifndef GL_RED
#define GL_RED 0x1903
#endif
#ifndef GL_R8
#define GL_R8 0x8229
#endif
#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif

namespace {

std::atomic<int> policy{int(PictureTextures::PixelBuffers::Auto)};

bool hasPixelBuffers(QOpenGLContext *context)
{
    const QSurfaceFormat f = context->format();
    if (context->isOpenGLES())
        return f.majorVersion() >= 3;
    return f.version() >= qMakePair(2, 1) || context->hasExtension("GL_ARB_pixel_buffer_object");
}

} // namespace

bool PictureTextures::isSoftwareRenderer(const char *renderer)
{
    if (!renderer)
        return false;
    for (const char *name : {"llvmpipe", "softpipe", "Software Rasterizer", "SwiftShader", "GDI Generic",
                             "Microsoft Basic Render Driver"})
        if (strstr(renderer, name))
            return true;
    return false;
}

void PictureTextures::setPixelBufferPolicy(PixelBuffers value)
{
    policy = int(value);
}

PictureTextures::~PictureTextures() = default;

void PictureTextures::initialize(QOpenGLContext *context)
{
    functions = context->functions();
    // One-channel textures: GL_RED where the context has it (OpenGL 3, ES 3),
    // luminance on older contexts; both read back as .r in the shader.
    const bool red = context->format().majorVersion() >= 3;
    format = red ? GL_RED : GL_LUMINANCE;
    internalFormat = red ? GL_R8 : GL_LUMINANCE;
    // Desktop OpenGL and ES 3 read rows of any stride in place.
    rowLength = !context->isOpenGLES() || context->format().majorVersion() >= 3
        || context->hasExtension("GL_EXT_unpack_subimage");
    functions->glGenTextures(3, textures);
    textureWidth = textureHeight = 0;
    uploads = allocations = 0;

    const PixelBuffers wanted = PixelBuffers(policy.load());
    const char *renderer = reinterpret_cast<const char *>(functions->glGetString(GL_RENDERER));
    const bool usePixelBuffer = wanted == PixelBuffers::Always
        || (wanted == PixelBuffers::Auto && !isSoftwareRenderer(renderer));
    pixelBuffer.reset();
    if (usePixelBuffer && hasPixelBuffers(context)) {
        pixelBuffer.reset(new QOpenGLBuffer(QOpenGLBuffer::PixelUnpackBuffer));
        pixelBuffer->setUsagePattern(QOpenGLBuffer::StreamDraw);
        if (!pixelBuffer->create())
            pixelBuffer.reset();
    }
    qCDebug(lcPlayback, "picture upload: %s textures, %s", red ? "red" : "luminance",
            pixelBuffer ? "through a pixel-buffer object" : "straight from the picture");
}

void PictureTextures::release()
{
    if (!functions)
        return;
    functions->glDeleteTextures(3, textures);
    for (GLuint &t : textures)
        t = 0;
    pixelBuffer.reset();
    functions = nullptr;
}

void PictureTextures::allocate(int width, int height)
{
    const int widths[3] = {width, (width + 1) / 2, (width + 1) / 2};
    const int heights[3] = {height, (height + 1) / 2, (height + 1) / 2};
    for (int i = 0; i < 3; ++i) {
        functions->glBindTexture(GL_TEXTURE_2D, textures[i]);
        functions->glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, widths[i], heights[i], 0, format, GL_UNSIGNED_BYTE,
                                nullptr);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    textureWidth = width;
    textureHeight = height;
    ++allocations;
}

bool PictureTextures::upload(const PicturePlanes &planes)
{
    if (!functions || !planes.isValid())
        return false;
    if (planes.width != textureWidth || planes.height != textureHeight)
        allocate(planes.width, planes.height);
    // Rows are read at one-byte alignment: chroma rows need not be a
    // multiple of 4 bytes long.
    functions->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (!pixelBuffer || !uploadThroughPixelBuffer(planes))
        for (int i = 0; i < 3; ++i)
            uploadPlane(i, planes);
    ++uploads;
    return true;
}

// The planes go into one buffer, rows packed; the driver moves them into the
// textures while the CPU goes on.
bool PictureTextures::uploadThroughPixelBuffer(const PicturePlanes &planes)
{
    size_t offsets[3];
    size_t total = 0;
    for (int i = 0; i < 3; ++i) {
        offsets[i] = total;
        total += size_t(planes.planeWidth(i)) * size_t(planes.planeHeight(i));
    }
    if (total > size_t(INT32_MAX) || !pixelBuffer->bind())
        return false;
    pixelBuffer->allocate(int(total)); // a fresh store: no wait for the last upload
    void *mapped = pixelBuffer->mapRange(0, int(total), QOpenGLBuffer::RangeWrite | QOpenGLBuffer::RangeInvalidateBuffer);
    if (!mapped)
        mapped = pixelBuffer->map(QOpenGLBuffer::WriteOnly);
    if (!mapped) {
        pixelBuffer->release();
        qCWarning(lcPlayback, "picture upload: the pixel-buffer object cannot be mapped; uploading straight");
        pixelBuffer.reset();
        return false;
    }
    auto *out = static_cast<uint8_t *>(mapped);
    for (int i = 0; i < 3; ++i) {
        const int w = planes.planeWidth(i), h = planes.planeHeight(i);
        for (int y = 0; y < h; ++y)
            memcpy(out + offsets[i] + size_t(y) * size_t(w), planes.data[i] + size_t(y) * size_t(planes.stride[i]),
                   size_t(w));
    }
    pixelBuffer->unmap();
    for (int i = 0; i < 3; ++i) {
        functions->glBindTexture(GL_TEXTURE_2D, textures[i]);
        functions->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, planes.planeWidth(i), planes.planeHeight(i), format,
                                   GL_UNSIGNED_BYTE, reinterpret_cast<const void *>(offsets[i]));
    }
    pixelBuffer->release();
    return true;
}

void PictureTextures::uploadPlane(int i, const PicturePlanes &planes)
{
    const int w = planes.planeWidth(i), h = planes.planeHeight(i);
    functions->glBindTexture(GL_TEXTURE_2D, textures[i]);
    if (planes.stride[i] == w) {
        functions->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, format, GL_UNSIGNED_BYTE, planes.data[i]);
    } else if (rowLength) {
        functions->glPixelStorei(GL_UNPACK_ROW_LENGTH, planes.stride[i]);
        functions->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, format, GL_UNSIGNED_BYTE, planes.data[i]);
        functions->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        // OpenGL ES 2 without the row-length extension: one row at a time.
        for (int y = 0; y < h; ++y)
            functions->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, y, w, 1, format, GL_UNSIGNED_BYTE,
                                       planes.data[i] + size_t(y) * size_t(planes.stride[i]));
    }
}

void PictureTextures::bind()
{
    for (int i = 0; i < 3; ++i) {
        functions->glActiveTexture(GLenum(GL_TEXTURE0 + i));
        functions->glBindTexture(GL_TEXTURE_2D, textures[i]);
    }
}
