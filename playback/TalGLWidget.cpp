#include "TalGLWidget.h"

#include "H26xFrameItem.h"
#include "LogCategories.h"
#include "PicturePool.h"
#include "PictureSize.h"
#include "PictureTextures.h"

#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPainter>
#include <QtGlobal>

#include <algorithm>
#include <atomic>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}


namespace {

const char *const VertexShader =
    "attribute vec4 vertexIn;\n"
    "attribute vec2 textureIn;\n"
    "varying vec2 textureOut;\n"
    "void main() {\n"
    "     gl_Position = vertexIn;\n"
    "     textureOut = textureIn;\n"
    "}\n";

// OpenGL ES wants a default float precision in fragment shaders.
const char *const FragmentShader =
    "#ifdef GL_ES\n"
    "precision mediump float;\n"
    "#endif\n"
    "varying vec2 textureOut;\n"
    "uniform sampler2D tex_y;\n"
    "uniform sampler2D tex_u;\n"
    "uniform sampler2D tex_v;\n"
    "uniform\t  float\t\t\tcontrastMult;\n"
    "uniform\t  float\t\t\tbrightnessAdd;\n"
    "void main(void) {\n"
    "vec3 yuv;\n"
    "vec3 rgb;\n"
    "yuv.x = texture2D(tex_y, textureOut).r;\n"
    "yuv.y = texture2D(tex_u, textureOut).r - 0.5;\n"
    "yuv.z = texture2D(tex_v, textureOut).r - 0.5;\n"
    "rgb = mat3(1,1,1,\n"
    "          0,-0.344,1.772,\n"
    "          1.402,-0.714,0) * yuv * contrastMult;\n"
    "  gl_FragColor = vec4(rgb.r*brightnessAdd,rgb.g*brightnessAdd, rgb.b*brightnessAdd, 1); \n"
    "}\n";

constexpr int VertexLocation = 3;
constexpr int TextureLocation = 4;
const GLfloat Vertices[] = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat TextureCoordinates[] = {0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f};

uint8_t clampByte(int value)
{
    return uint8_t(std::clamp(value, 0, 255));
}

std::atomic<int> rendererWanted{int(TalGLWidget::Renderer::Auto)};

// Whether OpenGL on this display is a software renderer, or missing: asked
// once of a context made for the purpose.
bool softwareOpenGL()
{
    static const bool software = [] {
        QOpenGLContext context;
        QOffscreenSurface surface;
        surface.create();
        if (!context.create() || !context.makeCurrent(&surface)) {
            qCWarning(lcPlayback, "no OpenGL context: the video panes paint without it");
            return true;
        }
        const char *name = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
        const bool result = PictureTextures::isSoftwareRenderer(name);
        qCDebug(lcPlayback, "OpenGL renderer %s: the video panes %s", name ? name : "unknown",
                result ? "paint without it" : "use it");
        context.doneCurrent();
        return result;
    }();
    return software;
}

bool rasterWanted()
{
    switch (TalGLWidget::Renderer(rendererWanted.load())) {
    case TalGLWidget::Renderer::OpenGL:
        return false;
    case TalGLWidget::Renderer::Raster:
        return true;
    case TalGLWidget::Renderer::Auto:
        break;
    }
    const QByteArray chosen = qgetenv("ZV_PANE_RENDERER");
    if (chosen == "opengl")
        return false;
    if (chosen == "raster")
        return true;
    return softwareOpenGL();
}

} // namespace

// The OpenGL way of drawing a view: a surface filling it that draws the
// view's picture with the YUV shader. Mouse events pass through to the view.
class PaneGLSurface : public QOpenGLWidget, protected QOpenGLFunctions
{
public:
    explicit PaneGLSurface(TalGLWidget *view) : QOpenGLWidget(view), owner(view)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    ~PaneGLSurface() override
    {
        if (textures.isInitialized() && context()) {
            makeCurrent();
            textures.release();
            program.reset();
            doneCurrent();
        }
    }

    PictureTextures textures;

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    TalGLWidget *owner;
    std::unique_ptr<QOpenGLShaderProgram> program;
    int texY = -1, texU = -1, texV = -1, brightnessAdd = -1, contrastMult = -1;
};

void TalGLWidget::setRenderer(Renderer renderer)
{
    rendererWanted = int(renderer);
}

TalGLWidget::TalGLWidget(int paneIndex, int width, int height, QWidget *parent)
    : QWidget(parent)
    , m_paneIndex(paneIndex)
{
    setFocusPolicy(Qt::StrongFocus);
    if (!rasterWanted()) {
        m_surface = new PaneGLSurface(this);
        m_surface->setGeometry(rect());
    } else {
        // Every pixel is painted: Qt need not clear the background first.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    // 0 x 0 is a filler pane that never shows a picture; a size no picture
    // can have (a damaged header) gets the default pane.
    if ((width != 0 || height != 0) && !PictureSize::isPlayable(width, height)) {
        width = PictureSize::DefaultWidth;
        height = PictureSize::DefaultHeight;
    }
    if (width > 0 && height > 0) {
        m_width = width;
        m_height = height;
    }
}

TalGLWidget::~TalGLWidget()
{
    sws_freeContext(m_sws);
}

int TalGLWidget::uploadCount() const
{
    return m_surface ? m_surface->textures.uploadCount() : m_conversions;
}

int TalGLWidget::textureAllocations() const
{
    return m_surface ? m_surface->textures.allocationCount() : m_imageAllocations;
}

bool TalGLWidget::usesPixelBuffers() const
{
    return m_surface && m_surface->textures.usesPixelBuffers();
}

QOpenGLContext *TalGLWidget::context() const
{
    return m_surface ? m_surface->context() : nullptr;
}

QImage TalGLWidget::grabFramebuffer()
{
    return m_surface ? m_surface->grabFramebuffer() : grab().toImage();
}

void TalGLWidget::refresh()
{
    if (m_surface)
        m_surface->update();
    else
        update();
}

void TalGLWidget::setBrightness(float factor)
{
    m_brightness = factor;
    m_imageStale = true;
    refresh();
}

void TalGLWidget::setContrast(float factor)
{
    m_contrast = factor;
    m_imageStale = true;
    refresh();
}

void TalGLWidget::updateView(H26xFrameItem *item)
{
    // A filler pane (0 x 0) never shows a picture.
    if (item && m_width > 0 && m_height > 0) {
        const PicturePlanes planes = item->planes(m_width, m_height);
        if (planes.isValid() && PictureSize::isPlayable(planes.width, planes.height)) {
            // The picture shown before goes back to its decoder's pool here.
            m_shown.reset(item);
            item = nullptr;
            m_planes = planes;
            m_shownGeneration = PicturePool::generation(m_shown->picture());
            m_width = planes.width;
            m_height = planes.height;
            m_seconds = m_shown->record().sec;
            m_uploadPending = true;
            m_imageStale = true;
        }
    }
    delete item;
    refresh();
}

void TalGLWidget::setXTranslation(float x)
{
    if (x != m_xTranslation) {
        m_xTranslation = x;
        refresh();
    }
}

void TalGLWidget::setYTranslation(float y)
{
    if (y != m_yTranslation) {
        m_yTranslation = y;
        refresh();
    }
}

QSize TalGLWidget::parentSize() const
{
    return parentWidget() ? parentWidget()->size() : size();
}

void TalGLWidget::zoomIn()
{
    if (m_zoomSteps < MaxZoomSteps) {
        ++m_zoomSteps;
        applyZoom();
    }
}

void TalGLWidget::zoomOut()
{
    if (m_zoomSteps > 0) {
        --m_zoomSteps;
        applyZoom();
    }
}

void TalGLWidget::setZoom(float zoom)
{
    const int steps = std::clamp(qRound((zoom - 1.0f) * 10.0f), 0, MaxZoomSteps);
    if (steps != m_zoomSteps) {
        m_zoomSteps = steps;
        applyZoom();
    }
}

// Whole tenths, so ten steps land exactly on twice the pane's size.
void TalGLWidget::applyZoom()
{
    const QSize pane = parentSize();
    applySize(pane.width() * (10 + m_zoomSteps) / 10, pane.height() * (10 + m_zoomSteps) / 10);
}

void TalGLWidget::applySize(int w, int h)
{
    if (m_zoomSteps == 0) {
        setGeometry(0, 0, w, h);
        m_dragReference = QPoint();
        return;
    }
    // Grow or shrink about the view's centre, then keep the pane covered.
    const QSize pane = parentSize();
    const int x = std::min(std::max(pos().x() - (w - width()) / 2, pane.width() - w), 0);
    const int y = std::min(std::max(pos().y() - (h - height()) / 2, pane.height() - h), 0);
    setGeometry(x, y, w, h);
}

void TalGLWidget::mousePressEvent(QMouseEvent *event)
{
    m_dragReference = event->pos();
    emit clicked(m_paneIndex);
}

void TalGLWidget::mouseDoubleClickEvent(QMouseEvent *)
{
    qCDebug(lcPlayback, "mouseDoubleClickEvent\n");
    emit doubleClicked(m_paneIndex);
}

void TalGLWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_zoomSteps == 0 || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint wanted = pos() + event->pos() - m_dragReference;
    const QSize pane = parentSize();
    const QPoint target(std::min(std::max(wanted.x(), pane.width() - width()), 0),
                        std::min(std::max(wanted.y(), pane.height() - height()), 0));
    const QPoint moved = target - pos();
    move(target);
    // The grabbed point stays under the cursor; where the pane edge stopped
    // the view, the cursor slides over it instead.
    m_dragReference = event->pos() - moved;
    event->accept();
}

void TalGLWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_surface)
        m_surface->setGeometry(rect());
    else
        m_imageStale = true;
}

bool TalGLWidget::pictureIntact() const
{
    if (PicturePool::generation(m_shown->picture()) == m_shownGeneration)
        return true;
    qCWarning(lcPlayback, "[%s::%d]pane %d: its picture was reused while shown; not drawn", "pictureIntact", __LINE__,
              m_paneIndex);
    return false;
}

// The picture scaled to the view's pixels and converted as the shader does
// (BT.601, full range), then multiplied by the factors. Done at paint time,
// so pictures that arrive between two paints are never converted.
void TalGLWidget::convertForScreen()
{
    if (!m_imageStale || !m_shown)
        return;
    m_imageStale = false;
    const qreal ratio = devicePixelRatioF();
    const QSize target(qMax(1, qRound(width() * ratio)), qMax(1, qRound(height() * ratio)));
    if (!pictureIntact())
        return;
    if (m_image.size() != target || m_image.devicePixelRatioF() != ratio) {
        // swscale's vector code may write whole blocks of pixels past a
        // row's end: the rows have room to spare, and one more row follows.
        m_imageBuffer = QImage((target.width() + 15) & ~15, target.height() + 1, QImage::Format_RGB32);
        m_image = QImage(m_imageBuffer.bits(), target.width(), target.height(), m_imageBuffer.bytesPerLine(),
                         QImage::Format_RGB32);
        m_image.setDevicePixelRatio(ratio);
        ++m_imageAllocations;
    }
    // Made smaller (panes of a grid), each pixel is taken from the nearest
    // four, as the shader's linear texture filter does; this costs a fifth
    // of interpolating the chroma across rows. At the picture's size or
    // larger the chroma is interpolated, and accurate rounding keeps swscale
    // off a shortcut that leaves the last pixels of rows not a multiple of 8
    // wide unconverted.
    const bool smaller = target.width() < m_planes.width && target.height() < m_planes.height;
    const int flags = smaller ? SWS_FAST_BILINEAR : SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;
    m_sws = sws_getCachedContext(m_sws, m_planes.width, m_planes.height, AV_PIX_FMT_YUV420P, target.width(),
                                 target.height(), AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
    if (!m_sws) {
        m_image.fill(Qt::black);
        return;
    }
    const int *coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(m_sws, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
    uint8_t *const destination[4] = {m_imageBuffer.bits(), nullptr, nullptr, nullptr};
    const int destinationStride[4] = {int(m_imageBuffer.bytesPerLine()), 0, 0, 0};
    sws_scale(m_sws, m_planes.data, m_planes.stride, 0, m_planes.height, destination, destinationStride);
    applyFactors();
    ++m_conversions;
}

// Brightness and contrast multiply every converted channel, clipped at
// white, through one table.
void TalGLWidget::applyFactors()
{
    const float factor = std::max(0.0f, m_brightness * m_contrast);
    if (factor == 1.0f)
        return;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = clampByte(int(float(i) * factor + 0.5f));
    for (int y = 0; y < m_image.height(); ++y) {
        uint8_t *pixel = m_image.scanLine(y);
        for (int x = 0; x < m_image.width(); ++x, pixel += 4) {
            pixel[0] = table[pixel[0]];
            pixel[1] = table[pixel[1]];
            pixel[2] = table[pixel[2]];
        }
    }
}

void TalGLWidget::paintEvent(QPaintEvent *)
{
    if (m_surface)
        return;
    QPainter painter(this);
    if (m_width > 0 && m_height > 0 && m_shown)
        convertForScreen();
    const bool image = m_shown && !m_image.isNull();
    // Black where no picture is, or where the last good one does not reach
    // (a picture found reused keeps the image of another size).
    if (!image || m_image.size() != QSize(qRound(width() * m_image.devicePixelRatioF()),
                                          qRound(height() * m_image.devicePixelRatioF())))
        painter.fillRect(rect(), Qt::black);
    if (image)
        painter.drawImage(QPoint(0, 0), m_image);
}

void PaneGLSurface::initializeGL()
{
    if (owner->m_width == 0 || owner->m_height == 0)
        return;
    initializeOpenGLFunctions();
    // One quad per pane: no depth test, so no depth read or written per pixel.
    glDisable(GL_DEPTH_TEST);

    program.reset(new QOpenGLShaderProgram);
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, VertexShader))
        qCWarning(lcPlayback, "Vertex compile error!!!!");
    if (!program->addShaderFromSourceCode(QOpenGLShader::Fragment, FragmentShader))
        qCWarning(lcPlayback, "Fragment compile error!!!!");
    program->bindAttributeLocation("vertexIn", VertexLocation);
    program->bindAttributeLocation("textureIn", TextureLocation);
    program->link();
    program->bind();

    texY = program->uniformLocation("tex_y");
    texU = program->uniformLocation("tex_u");
    texV = program->uniformLocation("tex_v");
    brightnessAdd = program->uniformLocation("brightnessAdd");
    contrastMult = program->uniformLocation("contrastMult");

    // A new context (first show, or another window) starts with no
    // textures: the picture on screen goes up again.
    textures.initialize(context());
    owner->m_uploadPending = owner->m_shown != nullptr;
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

void PaneGLSurface::resizeGL(int w, int h)
{
    if (owner->m_width == 0 || owner->m_height == 0)
        return;
    glViewport(0, 0, w, h);
}

void PaneGLSurface::paintGL()
{
    if (owner->m_width == 0 || owner->m_height == 0 || !program)
        return;
    glClear(GL_COLOR_BUFFER_BIT);
    if (owner->m_uploadPending && owner->m_shown) {
        // Each picture goes up once; painting it again (a zoom, an expose, a
        // brightness change) draws the textures as they are.
        if (owner->pictureIntact())
            textures.upload(owner->m_planes);
        owner->m_uploadPending = false;
    }
    if (textures.uploadCount() == 0)
        return; // no picture yet: black

    program->bind();
    program->setUniformValue(brightnessAdd, owner->m_brightness);
    program->setUniformValue(contrastMult, owner->m_contrast);
    textures.bind();
    program->setUniformValue(texY, 0);
    program->setUniformValue(texU, 1);
    program->setUniformValue(texV, 2);
    program->setAttributeArray(VertexLocation, Vertices, 2);
    program->setAttributeArray(TextureLocation, TextureCoordinates, 2);
    program->enableAttributeArray(VertexLocation);
    program->enableAttributeArray(TextureLocation);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void TalGLWidget::toRgb32(uint32_t *buffer) const
{
    if (!buffer || m_width <= 0 || m_height <= 0)
        return;
    if (!m_shown) {
        std::fill(buffer, buffer + size_t(m_width) * size_t(m_height), 0xFF000000u);
        return;
    }
    const PicturePlanes &p = m_planes;
    for (int y = 0; y < p.height; ++y) {
        const uint8_t *luma = p.data[0] + size_t(y) * size_t(p.stride[0]);
        const uint8_t *us = p.data[1] + size_t(y / 2) * size_t(p.stride[1]);
        const uint8_t *vs = p.data[2] + size_t(y / 2) * size_t(p.stride[2]);
        uint32_t *out = buffer + size_t(y) * size_t(p.width);
        for (int x = 0; x < p.width; ++x) {
            const int u = us[x / 2] - 128;
            const int v = vs[x / 2] - 128;
            const uint8_t r = clampByte(luma[x] + int(1.402f * v));
            const uint8_t g = clampByte(luma[x] - int(0.344f * u + 0.714f * v));
            const uint8_t b = clampByte(luma[x] + int(1.772f * u));
            out[x] = 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
        }
    }
}
