// TalGLWidget under a real X server (Xvfb, Mesa), drawing with OpenGL and
// painting for itself: the picture on screen against ffmpeg's own RGB
// conversion of the same frame as ImageMagick measures it, brightness and
// contrast factors, zoom and pan geometry, the item hand-over and the mouse
// signals.
#include "H26xFrameItem.h"
#include "PicturePool.h"
#include "PictureTextures.h"
#include "ProcessRun.h"
#include "TalGLWidget.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSignalSpy>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

constexpr int Width = 320, Height = 240;

static const uint8_t *bytes(const QByteArray &b) { return reinterpret_cast<const uint8_t *>(b.constData()); }
static QString sizeText(QSize size) { return QString("%1x%2").arg(size.width()).arg(size.height()); }
static QString tempPath(const char *name)
{
    static QTemporaryDir dir;
    return dir.filePath(name);
}

// One testsrc2 picture from ffmpeg as yuv420p, through the filter.
static QByteArray testPicture(QSize size, const QString &filter = "null")
{
    return toolOutput("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=" + sizeText(size), "-frames:v", "1",
                                 "-vf", filter, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
}

// ffmpeg's conversion of a yuv420p picture to packed RGB, read as full range
// as the view reads it; bilinearChroma upsamples the chroma planes
// bilinearly, as the view's linearly filtered textures do.
static QByteArray ffmpegRgb(const QByteArray &yuv, QSize size, bool bilinearChroma)
{
    QStringList arguments = {"-v", "error", "-f", "rawvideo", "-s", sizeText(size), "-pix_fmt", "yuvj420p", "-i", "-"};
    if (bilinearChroma)
        arguments << "-sws_flags" << "bilinear+full_chroma_int+accurate_rnd";
    return toolOutput("ffmpeg", arguments << "-f" << "rawvideo" << "-pix_fmt" << "rgb24" << "-", yuv);
}

static QString saved(const QImage &image, const char *name)
{
    EXPECT_TRUE(image.convertToFormat(QImage::Format_RGB32).save(tempPath(name)));
    return tempPath(name);
}

// ImageMagick's metric of the image against packed RGB of its size: PSNR in
// dB, or PAE as the largest channel difference in 8-bit levels.
static double compareTo(const QImage &image, const QByteArray &rgb24, const QString &metric)
{
    EXPECT_TRUE(writeFile(tempPath("want.rgb"), rgb24));
    const ProcessRun compare = runProcess("compare", {"-metric", metric, "-size", sizeText(image.size()), "-depth", "8",
                                                      QString("rgb:") + tempPath("want.rgb"), saved(image, "got.png"), "null:"});
    EXPECT_TRUE(compare.exitCode == 0 || compare.exitCode == 1) << compare.err.constData(); // 1: they differ
    const QString text = QString::fromLatin1(compare.err);
    return metric == "PAE" ? text.section('(', 1).section(')', 0, 0).toDouble() * 255 : text.toDouble();
}

static H26xFrameItem *frameItem(const QByteArray &picture, int size = -1, QSize stated = QSize(0, 0))
{
    FrameIndexEntry record;
    record.sec = 1234;
    const QByteArray item = size < 0 ? picture : picture.leftJustified(size, 0, true);
    auto *frame = new H26xFrameItem(bytes(item), item.size(), record);
    frame->setPictureSize(stated.width(), stated.height());
    return frame;
}

// A picture as a decoder hands it out: drawn from a pool, its rows padded.
static H26xFrameItem *pooledItem(PicturePool &pool, const QByteArray &picture, QSize size)
{
    AVFrame *frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size.width();
    frame->height = size.height();
    EXPECT_EQ(pool.getBuffer(frame, size.width(), size.height()), 0);
    const char *from = picture.constData();
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (size.width() + 1) / 2 : size.width(), h = plane ? (size.height() + 1) / 2 : size.height();
        for (int y = 0; y < h; ++y, from += w)
            memcpy(frame->data[plane] + y * frame->linesize[plane], from, size_t(w));
    }
    FrameIndexEntry record;
    record.sec = 1234;
    record.size = 1;
    return new H26xFrameItem(frame, record);
}

using Renderer = TalGLWidget::Renderer;
constexpr Renderer BothRenderers[] = {Renderer::OpenGL, Renderer::Raster};
static const char *rendererName(Renderer r) { return r == Renderer::Raster ? "raster" : "OpenGL"; }

// Views made while it lives draw the given way.
struct RendererScope
{
    explicit RendererScope(Renderer r) { TalGLWidget::setRenderer(r); }
    ~RendererScope() { TalGLWidget::setRenderer(Renderer::Auto); }
};

static QImage show(TalGLWidget &view, const QByteArray &picture)
{
    view.resize(view.pictureWidth(), view.pictureHeight());
    view.updateView(frameItem(picture));
    view.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    return view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
}

// The shown picture is ffmpeg's picture: right way up, planes in place, with
// bilinear chroma for the screen and as it comes for the still, both BT.601
// full range; a swapped, shifted or flipped plane falls far below the bounds.
// 324 wide gives chroma rows of 162 bytes, off the default unpack alignment.
TEST(TalGLWidget, PictureMatchesFfmpegConversion)
{
    for (const Renderer renderer : BothRenderers) {
        SCOPED_TRACE(rendererName(renderer));
        RendererScope scope(renderer);
        for (const QSize size : {QSize(Width, Height), QSize(324, 180)}) {
            SCOPED_TRACE(size.width());
            const QByteArray picture = testPicture(size);
            TalGLWidget view(0, size.width(), size.height());
            const QImage shown = show(view, picture);
            ASSERT_EQ(shown.size(), size);
            EXPECT_EQ(view.pictureSeconds(), 1234u);
            ASSERT_EQ(view.isRaster(), renderer == Renderer::Raster);
            if (!view.isRaster()) {
                EXPECT_EQ(view.context()->isOpenGLES(), qEnvironmentVariableIsSet("ZV_TEST_GLES"));
            }
            std::vector<uint32_t> still(size_t(size.width() * size.height()));
            view.toRgb32(still.data());
            const QImage stillImage(reinterpret_cast<const uchar *>(still.data()), size.width(), size.height(),
                                    QImage::Format_RGB32);
            EXPECT_GE(compareTo(shown, ffmpegRgb(picture, size, true), "PSNR"), 30.0);
            EXPECT_GE(compareTo(stillImage, ffmpegRgb(picture, size, false), "PSNR"), 40.0);
        }
        // A grey frame has no chroma: the conversion must give back Y in every channel.
        QByteArray grey = testPicture({Width, Height});
        grey.replace(Width * Height, Width * Height / 2, QByteArray(Width * Height / 2, char(128)));
        TalGLWidget view(1, Width, Height);
        EXPECT_LE(compareTo(show(view, grey), ffmpegRgb(grey, {Width, Height}, false), "PAE"), 1.001);
    }
}

// Painting for itself, the view shows the picture scaled down to its own
// size as ffmpeg's fast bilinear scaler does (the shader's linear filter
// samples the same way).
TEST(TalGLWidget, RasterViewScalesThePicture)
{
    RendererScope scope(Renderer::Raster);
    const QByteArray picture = testPicture({Width, Height});
    TalGLWidget view(0, Width, Height);
    show(view, picture);
    const QSize half(Width / 2, Height / 2);
    view.resize(half);
    const QByteArray want = toolOutput("ffmpeg", {"-v", "error", "-f", "rawvideo", "-s", sizeText({Width, Height}),
                                                  "-pix_fmt", "yuvj420p", "-i", "-", "-vf",
                                                  "scale=" + sizeText(half) + ":flags=fast_bilinear",
                                                  "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
                                       picture);
    EXPECT_GE(compareTo(view.grabFramebuffer(), want, "PSNR"), 35.0);
}

// Brightness and contrast both multiply the converted values: a factor of
// 2.0 (slider 256) doubles every channel up to the clip, 1.0 changes nothing.
// The picture is toned down so that no channel is clipped at 1.0.
TEST(TalGLWidget, BrightnessAndContrastMultiply)
{
    for (const Renderer renderer : BothRenderers) {
        SCOPED_TRACE(rendererName(renderer));
        RendererScope scope(renderer);
        TalGLWidget view(0, Width, Height);
        const QImage base = show(view, testPicture({Width, Height}, "eq=contrast=0.6:saturation=0.6"));
        const struct { float brightness, contrast, factor; } cases[] = {
            {2.0f, 1.0f, 2.0f}, {1.0f, 2.0f, 2.0f}, {1.0f, 1.0f, 1.0f}, {0.5f, 1.0f, 0.5f}};
        for (const auto &c : cases) {
            SCOPED_TRACE(c.brightness * 10 + c.contrast);
            view.setBrightness(c.brightness);
            view.setContrast(c.contrast);
            const QByteArray want = toolOutput("convert", {saved(base, "base.png"), "-evaluate", "multiply",
                                                           QString::number(c.factor), "-depth", "8", "rgb:-"});
            EXPECT_LE(compareTo(view.grabFramebuffer(), want, "PAE"), 2.0 + c.factor);
        }
    }
}

// An item without a stated size is taken only when it has the view's size;
// a stated size must match its bytes and be one a camera records. Anything
// else is destroyed and the last picture stays.
TEST(TalGLWidget, ItemsOfAnotherSizeAreDropped)
{
    const QByteArray picture = testPicture({Width, Height});
    TalGLWidget view(0, Width, Height);
    view.updateView(frameItem(picture));
    std::vector<uint32_t> before(Width * Height), after(Width * Height);
    view.toRgb32(before.data());
    const struct { int size; QSize stated; } items[] = {
        {0, {}}, {100, {}}, {Width * Height, {}}, {Width * Height * 3 / 2 - 1, {}},
        {Width * Height * 3 / 2, {Width, Height + 2}}, {8 * 8 * 3 / 2, {8, 8}}, {Width * Height * 3 / 2, {65536, 32768}}};
    for (const auto &item : items)
        view.updateView(frameItem(picture, item.size, item.stated));
    view.updateView(nullptr);
    view.toRgb32(after.data());
    EXPECT_TRUE(before == after);
    EXPECT_EQ(QSize(view.pictureWidth(), view.pictureHeight()), QSize(Width, Height));
    EXPECT_EQ(view.pictureSeconds(), 1234u);
}

// The view shows the picture the decoder produced at that picture's size,
// whatever size it was made for; a size no picture can have (a damaged
// header claiming 65536x32768, whose byte count overflows 32 bits) gives
// the default 1280x720 view instead of an allocation that fails.
TEST(TalGLWidget, ViewFollowsThePicturesOwnSize)
{
    const QByteArray picture = testPicture({Width, Height});
    const struct { QSize made, before; } cases[] = {
        {{7680, 4320}, {7680, 4320}}, {{65536, 32768}, {1280, 720}}};
    for (const auto &c : cases)
    for (const Renderer renderer : BothRenderers) {
        SCOPED_TRACE(sizeText(c.made).toStdString() + " " + rendererName(renderer));
        RendererScope scope(renderer);
        TalGLWidget view(2, c.made.width(), c.made.height());
        EXPECT_EQ(QSize(view.pictureWidth(), view.pictureHeight()), c.before);
        view.resize(Width, Height);
        view.updateView(frameItem(picture, -1, {Width, Height}));
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        ASSERT_EQ(QSize(view.pictureWidth(), view.pictureHeight()), QSize(Width, Height));
        EXPECT_GE(compareTo(view.grabFramebuffer(), ffmpegRgb(picture, {Width, Height}, true), "PSNR"), 30.0);
    }
}

// Every picture goes up to the textures once, straight from the decoder's
// padded rows or through a pixel-buffer object: painting the same picture
// again (an expose, a resize, a brightness change) uploads nothing, and the
// textures are made again only for another picture size.
TEST(TalGLWidget, EachPictureIsUploadedOnce)
{
    const QByteArray first = testPicture({Width, Height}), second = testPicture({Width, Height}, "hflip"),
                     other = testPicture({324, 180});
    RendererScope scope(Renderer::OpenGL);
    for (const auto policy : {PictureTextures::PixelBuffers::Never, PictureTextures::PixelBuffers::Always}) {
        const bool pixelBuffers = policy == PictureTextures::PixelBuffers::Always;
        SCOPED_TRACE(pixelBuffers ? "pixel-buffer object" : "straight");
        PictureTextures::setPixelBufferPolicy(policy);
        PicturePool pool;
        TalGLWidget view(0, Width, Height);
        view.resize(Width, Height);
        view.updateView(pooledItem(pool, first, {Width, Height}));
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        const QOpenGLContext *context = view.context();
        EXPECT_EQ(view.usesPixelBuffers(), pixelBuffers && (!context->isOpenGLES() || context->format().majorVersion() >= 3));
        EXPECT_GE(compareTo(view.grabFramebuffer(), ffmpegRgb(first, {Width, Height}, true), "PSNR"), 30.0);
        EXPECT_EQ(view.uploadCount(), 1);
        view.update();
        view.setBrightness(1.0f);
        view.resize(Width + 40, Height + 30);
        view.grabFramebuffer();
        view.resize(Width, Height);
        EXPECT_GE(compareTo(view.grabFramebuffer(), ffmpegRgb(first, {Width, Height}, true), "PSNR"), 30.0);
        EXPECT_EQ(view.uploadCount(), 1) << "the same picture went up again";

        const struct { const QByteArray *picture; QSize size; int uploads, allocations; } next[] = {
            {&second, {Width, Height}, 2, 1}, {&other, {324, 180}, 3, 2}, {&first, {Width, Height}, 4, 3}};
        for (const auto &n : next) {
            view.updateView(pooledItem(pool, *n.picture, n.size));
            view.resize(n.size);
            EXPECT_GE(compareTo(view.grabFramebuffer(), ffmpegRgb(*n.picture, n.size, true), "PSNR"), 30.0);
            EXPECT_EQ(view.uploadCount(), n.uploads);
            EXPECT_EQ(view.textureAllocations(), n.allocations);
        }
    }
    PictureTextures::setPixelBufferPolicy(PictureTextures::PixelBuffers::Auto);
}

// Painting for itself, the view converts a picture once for its size:
// painting it again (an expose, an update) converts nothing; a new size or
// factor converts the held picture again, a new picture once more.
TEST(TalGLWidget, RasterConvertsOncePerPictureAndSize)
{
    RendererScope scope(Renderer::Raster);
    PicturePool pool;
    TalGLWidget view(0, Width, Height);
    show(view, testPicture({Width, Height}));
    ASSERT_TRUE(view.isRaster());
    EXPECT_EQ(view.uploadCount(), 1);
    view.update();
    view.repaint();
    view.grabFramebuffer();
    EXPECT_EQ(view.uploadCount(), 1) << "the same picture was converted again";
    const struct { const char *change; int conversions, allocations; } steps[] = {
        {"resize", 2, 2}, {"brightness", 3, 2}, {"picture", 4, 2}, {"nothing", 4, 2}};
    for (const auto &step : steps) {
        const std::string change = step.change;
        if (change == "resize")
            view.resize(Width / 2, Height / 2);
        else if (change == "brightness")
            view.setBrightness(1.5f);
        else if (change == "picture")
            view.updateView(pooledItem(pool, testPicture({Width, Height}, "hflip"), {Width, Height}));
        view.repaint();
        EXPECT_EQ(view.uploadCount(), step.conversions) << step.change;
        EXPECT_EQ(view.textureAllocations(), step.allocations) << step.change;
    }
}

// The pane holds the decoder's picture it shows: while it does, the pool
// never hands that buffer to the decoder again, so the picture on screen
// and in a still stays what it was however many pictures are decoded
// meanwhile; once another picture replaces it, its buffer is reused.
TEST(TalGLWidget, AShownPictureIsNeverWrittenAgain)
{
    for (const Renderer renderer : BothRenderers) {
        SCOPED_TRACE(rendererName(renderer));
        RendererScope scope(renderer);
        const QByteArray picture = testPicture({Width, Height});
        PicturePool pool;
        TalGLWidget view(0, Width, Height);
        view.resize(Width, Height);
        H26xFrameItem *item = pooledItem(pool, picture, {Width, Height});
        const uint8_t *shownPlane = item->picture()->data[0];
        view.updateView(item);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        const QImage before = view.grabFramebuffer();
        std::vector<uint32_t> stillBefore(Width * Height), stillAfter(Width * Height);
        view.toRgb32(stillBefore.data());
        for (int i = 0; i < 20; ++i) {
            // What a decoder does meanwhile: take buffers, write all over them, let them go.
            AVFrame *frame = av_frame_alloc();
            frame->format = AV_PIX_FMT_YUV420P;
            frame->width = Width;
            frame->height = Height;
            ASSERT_EQ(pool.getBuffer(frame, Width, Height), 0);
            EXPECT_NE(frame->data[0], shownPlane);
            for (int plane = 0; plane < 3; ++plane)
                memset(frame->data[plane], 0x50 + i, size_t(frame->linesize[plane]) * (plane ? Height / 2 : Height));
            av_frame_free(&frame);
        }
        view.setBrightness(1.0f); // painted again from the held picture
        EXPECT_TRUE(view.grabFramebuffer() == before);
        view.toRgb32(stillAfter.data());
        EXPECT_TRUE(stillBefore == stillAfter);
        EXPECT_EQ(pool.buffersInUse(), 1);

        view.updateView(frameItem(testPicture({Width, Height}, "vflip")));
        EXPECT_EQ(pool.buffersInUse(), 0) << "the replaced picture went back to its pool";
    }
}

// Zoom runs from 1.0 to 2.0 in tenths about the view's centre and never
// uncovers the pane; at 1.0 the view fills the pane at its origin. Dragging
// moves a zoomed view with the cursor, clamped so that it still covers the
// pane; at zoom 1.0 it does nothing.
TEST(TalGLWidget, ZoomAndPanGeometry)
{
    QWidget pane;
    pane.resize(Width, Height);
    TalGLWidget view(0, Width, Height, &pane);
    view.applySize(Width, Height);
    // action: + zoom in, - zoom out, = set zoom to asked
    const struct { char action; float asked, zoom; QRect geometry; } steps[] = {
        {'+', 0, 1.1f, {-16, -12, 352, 264}},     {'+', 0, 1.2f, {-32, -24, 384, 288}},
        {'=', 1.9f, 1.9f, {-144, -108, 608, 456}}, {'+', 0, 2.0f, {-160, -120, 640, 480}},
        {'+', 0, 2.0f, {-160, -120, 640, 480}},    {'-', 0, 1.9f, {-144, -108, 608, 456}},
        {'=', 1.0f, 1.0f, {0, 0, 320, 240}},       {'-', 0, 1.0f, {0, 0, 320, 240}},
        {'=', 3.5f, 2.0f, {-160, -120, 640, 480}}, {'=', 0.2f, 1.0f, {0, 0, 320, 240}},
    };
    for (const auto &step : steps) {
        if (step.action == '=')
            view.setZoom(step.asked);
        else
            step.action == '+' ? view.zoomIn() : view.zoomOut();
        EXPECT_FLOAT_EQ(view.zoomFactor(), step.zoom) << step.action;
        EXPECT_EQ(view.geometry(), step.geometry) << step.action << step.zoom;
    }

    // Points in pane coordinates; events carry them in the view's.
    const struct { float zoom; QPoint from, to, position; } drags[] = {
        {1.0f, {100, 100}, {150, 130}, {0, 0}},
        {2.0f, {100, 100}, {150, 130}, {-110, -90}},    // -160,-120 moved by 50,30
        {2.0f, {100, 100}, {400, 300}, {0, 0}},         // clamped at the pane's top-left
        {2.0f, {200, 200}, {-300, -300}, {-320, -240}}, // clamped at the bottom-right
    };
    for (const auto &d : drags) {
        view.setZoom(1.0f);
        view.setZoom(d.zoom);
        QMouseEvent press(QEvent::MouseButtonPress, d.from - view.pos(), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &press);
        for (int i = 1; i <= 4; ++i) {
            QMouseEvent move(QEvent::MouseMove, d.from + (d.to - d.from) * i / 4 - view.pos(), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&view, &move);
        }
        EXPECT_EQ(view.pos(), d.position) << d.zoom << " to " << d.to.x() << "," << d.to.y();
        EXPECT_EQ(view.size(), QSize(int(Width * d.zoom), int(Height * d.zoom)));
    }
}

// Clicks reach the view through its window, past an OpenGL surface.
TEST(TalGLWidget, ClicksCarryThePaneIndex)
{
    for (const Renderer renderer : BothRenderers) {
        SCOPED_TRACE(rendererName(renderer));
        RendererScope scope(renderer);
        TalGLWidget view(7, Width, Height);
        view.resize(Width, Height);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QSignalSpy clicked(&view, &TalGLWidget::clicked), doubleClicked(&view, &TalGLWidget::doubleClicked);
        QTest::mouseClick(view.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QTest::mouseDClick(view.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        ASSERT_GE(clicked.count(), 1);
        EXPECT_EQ(clicked.first().first().toInt(), 7);
        ASSERT_EQ(doubleClicked.count(), 1);
        EXPECT_EQ(doubleClicked.first().first().toInt(), 7);
    }
}

// ZV_TEST_GLES=1 runs the same tests on an OpenGL ES 2 context.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("ZV_TEST_GLES")) {
        QSurfaceFormat format;
        format.setRenderableType(QSurfaceFormat::OpenGLES);
        format.setVersion(2, 0);
        QSurfaceFormat::setDefaultFormat(format);
    }
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
