#pragma once
// The three one-channel textures a YUV 4:2:0 picture is drawn from, and the
// upload of a picture into them: glTexSubImage2D into textures that are
// created again only when the picture size changes, rows of any stride read
// in place, through a pixel-buffer object where the context has them and a
// GPU does the transfer. All calls need the owning context current.
#include "PicturePlanes.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>

#include <memory>

class QOpenGLContext;

class PictureTextures
{
public:
    // Whether uploads go through a pixel-buffer object. Auto uses one where
    // the context has them, except on a software renderer, where the buffer
    // would only add a copy.
    enum class PixelBuffers { Auto, Always, Never };
    static void setPixelBufferPolicy(PixelBuffers policy);
    // Whether GL_RENDERER names a renderer that draws on the processor.
    static bool isSoftwareRenderer(const char *renderer);

    PictureTextures() = default;
    ~PictureTextures();
    PictureTextures(const PictureTextures &) = delete;
    PictureTextures &operator=(const PictureTextures &) = delete;

    // Creates the textures in the current context.
    void initialize(QOpenGLContext *context);
    // Deletes them (the context must be current).
    void release();
    bool isInitialized() const { return functions != nullptr; }

    // Uploads the picture's planes; false (and nothing uploaded) when the
    // planes are not a valid picture.
    bool upload(const PicturePlanes &planes);
    // Binds plane i's texture to texture unit i.
    void bind();

    int width() const { return textureWidth; }
    int height() const { return textureHeight; }
    // Pictures uploaded and texture sets created since initialize.
    int uploadCount() const { return uploads; }
    int allocationCount() const { return allocations; }
    bool usesPixelBuffers() const { return pixelBuffer != nullptr; }

private:
    void allocate(int width, int height);
    bool uploadThroughPixelBuffer(const PicturePlanes &planes);
    void uploadPlane(int plane, const PicturePlanes &planes);

    QOpenGLFunctions *functions = nullptr;
    GLuint textures[3] = {0, 0, 0};
    GLenum format = 0;
    GLint internalFormat = 0;
    bool rowLength = false;
    std::unique_ptr<QOpenGLBuffer> pixelBuffer;
    int textureWidth = 0;
    int textureHeight = 0;
    int uploads = 0;
    int allocations = 0;
};
