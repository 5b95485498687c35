// TalGLWidget under a real X server (Xvfb, Mesa): the shader's picture
// against ffmpeg's own RGB conversion of the same frame, brightness and
// contrast factors, zoom and pan geometry, the item hand-over and the mouse
// signals.
#include "H265Decoder.h"
#include "H26xFrameItem.h"
#include "MediaTools.h"
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

#include <cmath>
#include <vector>

namespace {

constexpr int Width = 320;
constexpr int Height = 240;

// PSNR of an RGB image against packed rgb24 bytes of the same size.
double psnr(const QImage &image, const QByteArray &rgb24)
{
    double squared = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            const uint8_t *want = reinterpret_cast<const uint8_t *>(rgb24.constData()) + (y * image.width() + x) * 3;
            const int diff[3] = {qRed(pixel) - want[0], qGreen(pixel) - want[1], qBlue(pixel) - want[2]};
            for (int d : diff)
                squared += d * d;
        }
    }
    const double mse = squared / (image.width() * image.height() * 3.0);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

class TalGLWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override { m_yuv = decodedPicture(Width, Height); }

    // One testsrc2 picture of w x h encoded by ffmpeg (HEVC) and decoded by
    // H265Decoder, also kept in a file for ffmpeg's RGB conversion.
    QByteArray decodedPicture(int w, int h)
    {
        QString error;
        const QString clip = m_dir.filePath(QString("frame-%1x%2.hevc").arg(w).arg(h));
        runTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", QString("testsrc2=size=%1x%2").arg(w).arg(h),
                           "-frames:v", "1", "-pix_fmt", "yuv420p", "-c:v", "libx265", "-x265-params",
                           "log-level=error", "-f", "hevc", clip},
                &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        const QByteArray stream = readWholeFile(clip);
        H265Decoder decoder(0);
        EXPECT_EQ(decoder.initCodec(H265Decoder::H265, w, h), 0);
        QByteArray picture(decoder.decodedFrameSize(), 0);
        uint8_t *out = reinterpret_cast<uint8_t *>(picture.data());
        FrameIndexEntry record, shown;
        if (!decoder.decode(reinterpret_cast<const uint8_t *>(stream.constData()), stream.size(), record, out, &shown)) {
            EXPECT_EQ(decoder.drain(out, &shown), decoder.decodedFrameSize());
        }
        QFile file(yuvPath(w, h));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(picture);
        return picture;
    }

    QString yuvPath(int w, int h) const { return m_dir.filePath(QString("frame-%1x%2.yuv").arg(w).arg(h)); }

    // ffmpeg's conversion of the picture to packed RGB, read as full range;
    // with bilinearChroma the chroma planes are upsampled bilinearly, as the
    // view's linearly filtered textures do.
    QByteArray ffmpegRgb(int w, int h, bool bilinearChroma)
    {
        QString error;
        QStringList arguments = {"-v", "error", "-f", "rawvideo", "-s", QString("%1x%2").arg(w).arg(h), "-pix_fmt",
                                 "yuvj420p", "-i", yuvPath(w, h)};
        if (bilinearChroma)
            arguments << "-sws_flags" << "bilinear+full_chroma_int+accurate_rnd";
        arguments << "-f" << "rawvideo" << "-pix_fmt" << "rgb24" << "-";
        const QByteArray rgb = runTool("ffmpeg", arguments, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        return rgb;
    }

    H26xFrameItem *frameItem(int size) const
    {
        FrameIndexEntry record;
        record.sec = 1234;
        QByteArray bytes = m_yuv;
        bytes.resize(size);
        return new H26xFrameItem(reinterpret_cast<const uint8_t *>(bytes.constData()), size, record);
    }

    QImage show(TalGLWidget &view)
    {
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
        return view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir m_dir;
    QByteArray m_yuv;
};

// The shown picture is ffmpeg's picture: right way up, planes in place. The
// view treats pictures as full range, as the stills do, so the reference is
// ffmpeg's full-range conversion: with bilinear chroma for the screen (its
// textures filter linearly), as it comes for the still. Both use the BT.601
// weights; a swapped, shifted or flipped plane falls far below the bounds.
TEST_F(TalGLWidgetTest, PictureMatchesFfmpegConversion)
{
    // 324 wide: chroma rows of 162 bytes, not a multiple of the default unpack alignment.
    for (const QSize size : {QSize(Width, Height), QSize(324, 180)}) {
        SCOPED_TRACE(size.width());
        const QByteArray picture = size == QSize(Width, Height) ? m_yuv : decodedPicture(size.width(), size.height());
        TalGLWidget view(0, size.width(), size.height());
        view.resize(size);
        FrameIndexEntry record;
        record.sec = 1234;
        view.updateView(new H26xFrameItem(reinterpret_cast<const uint8_t *>(picture.constData()), picture.size(), record));
        EXPECT_EQ(view.pictureSeconds(), 1234u);
        const QImage shown = show(view);
        ASSERT_EQ(shown.size(), size);
        const QSurfaceFormat format = view.context()->format();
        printf("context: %s %d.%d\n", view.context()->isOpenGLES() ? "OpenGL ES" : "OpenGL", format.majorVersion(),
               format.minorVersion());
        if (qEnvironmentVariableIsSet("ZV_TEST_GLES")) {
            EXPECT_TRUE(view.context()->isOpenGLES());
        }
        if (qEnvironmentVariableIsSet("ZV_SCREENSHOT") && size == QSize(Width, Height))
            shown.save(qEnvironmentVariable("ZV_SCREENSHOT"));

        const QByteArray reference = ffmpegRgb(size.width(), size.height(), false);
        const QByteArray smoothReference = ffmpegRgb(size.width(), size.height(), true);
        std::vector<uint32_t> still(size_t(size.width() * size.height()));
        view.toRgb32(still.data());
        const QImage stillImage(reinterpret_cast<const uchar *>(still.data()), size.width(), size.height(),
                                QImage::Format_RGB32);
        const double shownPsnr = psnr(shown, smoothReference);
        const double stillPsnr = psnr(stillImage, reference);
        printf("%dx%d PSNR against ffmpeg's full-range conversion: shown %.2f dB, still %.2f dB\n", size.width(),
               size.height(), shownPsnr, stillPsnr);
        EXPECT_GE(shownPsnr, 30.0);
        EXPECT_GE(stillPsnr, 40.0);
    }

    // A grey frame has no chroma: the shader must give back Y in every channel.
    TalGLWidget grey(1, Width, Height);
    grey.resize(Width, Height);
    QByteArray flat = m_yuv;
    for (int i = Width * Height; i < flat.size(); ++i)
        flat[i] = char(128);
    grey.updateView(new H26xFrameItem(reinterpret_cast<const uint8_t *>(flat.constData()), flat.size(), {}));
    const QImage greyShown = show(grey);
    int worst = 0;
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            const int luma = uint8_t(flat[y * Width + x]);
            const QRgb pixel = greyShown.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(pixel) - luma), std::abs(qGreen(pixel) - luma),
                              std::abs(qBlue(pixel) - luma)});
        }
    }
    EXPECT_LE(worst, 1);
}

// Brightness and contrast both multiply the converted values: a factor of
// 2.0 (slider 256) doubles every channel below the clip, 1.0 changes nothing.
TEST_F(TalGLWidgetTest, BrightnessAndContrastMultiply)
{
    TalGLWidget view(0, Width, Height);
    view.resize(Width, Height);
    view.updateView(frameItem(Width * Height * 3 / 2));
    const QImage base = show(view);
    const struct {
        float brightness, contrast, factor;
    } cases[] = {{2.0f, 1.0f, 2.0f}, {1.0f, 2.0f, 2.0f}, {1.0f, 1.0f, 1.0f}, {0.5f, 1.0f, 0.5f}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.brightness);
        SCOPED_TRACE(c.contrast);
        view.setBrightness(c.brightness);
        view.setContrast(c.contrast);
        const QImage changed = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        int checked = 0, wrong = 0;
        for (int y = 0; y < Height; y += 3) {
            for (int x = 0; x < Width; x += 3) {
                const QRgb before = base.pixel(x, y), after = changed.pixel(x, y);
                const int channels[3][2] = {{qRed(before), qRed(after)},
                                            {qGreen(before), qGreen(after)},
                                            {qBlue(before), qBlue(after)}};
                for (const auto &channel : channels) {
                    const double want = channel[0] * c.factor;
                    if (want > 250 || channel[0] > 250) // clipped on one side
                        continue;
                    ++checked;
                    wrong += std::abs(channel[1] - want) > 2.0 + c.factor;
                }
            }
        }
        EXPECT_GT(checked, 10000);
        EXPECT_EQ(wrong, 0);
    }
}

// Only a picture of the view's own size is taken; any other item is
// destroyed and the last picture stays.
TEST_F(TalGLWidgetTest, ItemsOfAnotherSizeAreDropped)
{
    TalGLWidget view(0, Width, Height);
    view.updateView(frameItem(Width * Height * 3 / 2));
    std::vector<uint32_t> before(Width * Height), after(Width * Height);
    view.toRgb32(before.data());
    for (int size : {0, 100, Width * Height, Width * Height * 3 / 2 - 1})
        view.updateView(frameItem(size));
    view.updateView(nullptr);
    view.toRgb32(after.data());
    EXPECT_TRUE(before == after);
    EXPECT_EQ(view.pictureSeconds(), 1234u);
}

// Zoom runs from 1.0 to 2.0 in tenths about the view's centre and never
// uncovers the pane; at 1.0 the view fills the pane at its origin.
TEST_F(TalGLWidgetTest, ZoomGeometry)
{
    QWidget pane;
    pane.resize(Width, Height);
    TalGLWidget view(0, Width, Height, &pane);
    view.applySize(Width, Height);
    const struct {
        char action; // + zoom in, - zoom out, = set zoom to asked
        float asked, zoom;
        QRect geometry;
    } steps[] = {
        {'+', 0, 1.1f, {-16, -12, 352, 264}},     {'+', 0, 1.2f, {-32, -24, 384, 288}},
        {'=', 1.9f, 1.9f, {-144, -108, 608, 456}}, {'+', 0, 2.0f, {-160, -120, 640, 480}},
        {'+', 0, 2.0f, {-160, -120, 640, 480}},    {'-', 0, 1.9f, {-144, -108, 608, 456}},
        {'=', 1.0f, 1.0f, {0, 0, 320, 240}},       {'-', 0, 1.0f, {0, 0, 320, 240}},
        {'=', 3.5f, 2.0f, {-160, -120, 640, 480}}, {'=', 0.2f, 1.0f, {0, 0, 320, 240}},
    };
    for (const auto &step : steps) {
        if (step.action == '+')
            view.zoomIn();
        else if (step.action == '-')
            view.zoomOut();
        else
            view.setZoom(step.asked);
        EXPECT_FLOAT_EQ(view.zoomFactor(), step.zoom) << step.action;
        EXPECT_EQ(view.geometry(), step.geometry) << step.action << step.zoom;
    }
}

// Dragging moves a zoomed view with the cursor, clamped so that it still
// covers the pane; at zoom 1.0 it does nothing.
TEST_F(TalGLWidgetTest, PanGeometry)
{
    QWidget pane;
    pane.resize(Width, Height);
    TalGLWidget view(0, Width, Height, &pane);
    view.applySize(Width, Height);
    // The cursor in pane coordinates; events carry it in the view's.
    auto drag = [&](QPoint from, QPoint to) {
        QMouseEvent press(QEvent::MouseButtonPress, from - view.pos(), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &press);
        for (int i = 1; i <= 4; ++i) {
            const QPoint cursor = from + (to - from) * i / 4;
            QMouseEvent move(QEvent::MouseMove, cursor - view.pos(), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&view, &move);
        }
    };
    const struct {
        float zoom;
        QPoint from, to, position;
    } cases[] = {
        {1.0f, {100, 100}, {150, 130}, {0, 0}},
        {2.0f, {100, 100}, {150, 130}, {-110, -90}},   // -160,-120 moved by 50,30
        {2.0f, {100, 100}, {400, 300}, {0, 0}},        // clamped at the pane's top-left
        {2.0f, {200, 200}, {-300, -300}, {-320, -240}}, // clamped at the bottom-right
    };
    for (const auto &c : cases) {
        view.setZoom(1.0f);
        view.setZoom(c.zoom);
        drag(c.from, c.to);
        EXPECT_EQ(view.pos(), c.position) << c.zoom << " to " << c.to.x() << "," << c.to.y();
        EXPECT_EQ(view.size(), QSize(int(Width * c.zoom), int(Height * c.zoom)));
    }
}

TEST_F(TalGLWidgetTest, ClicksCarryThePaneIndex)
{
    TalGLWidget view(7, Width, Height);
    view.resize(Width, Height);
    QSignalSpy clicked(&view, &TalGLWidget::clicked);
    QSignalSpy doubleClicked(&view, &TalGLWidget::doubleClicked);
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseDClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    ASSERT_GE(clicked.count(), 1);
    EXPECT_EQ(clicked.first().first().toInt(), 7);
    ASSERT_EQ(doubleClicked.count(), 1);
    EXPECT_EQ(doubleClicked.first().first().toInt(), 7);
}

} // namespace

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
