#include "TalGLWidget.h"

#include "H26xFrameItem.h"
#include "LogCategories.h"
#include "PicturePool.h"
#include "PictureSize.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QtGlobal>

#include <algorithm>


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

} // namespace

TalGLWidget::TalGLWidget(int paneIndex, int width, int height, QWidget *parent)
    : QOpenGLWidget(parent)
    , m_paneIndex(paneIndex)
{
    setFocusPolicy(Qt::StrongFocus);
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
    if (m_textures.isInitialized() && context()) {
        makeCurrent();
        m_textures.release();
        m_program.reset();
        doneCurrent();
    }
}

void TalGLWidget::setBrightness(float factor)
{
    m_brightness = factor;
    update();
}

void TalGLWidget::setContrast(float factor)
{
    m_contrast = factor;
    update();
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
        }
    }
    delete item;
    update();
}

void TalGLWidget::setXTranslation(float x)
{
    if (x != m_xTranslation) {
        m_xTranslation = x;
        update();
    }
}

void TalGLWidget::setYTranslation(float y)
{
    if (y != m_yTranslation) {
        m_yTranslation = y;
        update();
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

void TalGLWidget::initializeGL()
{
    if (m_width == 0 || m_height == 0)
        return;
    initializeOpenGLFunctions();
    // One quad per pane: no depth test, so no depth read or written per pixel.
    glDisable(GL_DEPTH_TEST);

    m_program.reset(new QOpenGLShaderProgram);
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, VertexShader))
        qCWarning(lcPlayback, "Vertex compile error!!!!");
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, FragmentShader))
        qCWarning(lcPlayback, "Fragment compile error!!!!");
    m_program->bindAttributeLocation("vertexIn", VertexLocation);
    m_program->bindAttributeLocation("textureIn", TextureLocation);
    m_program->link();
    m_program->bind();

    m_texY = m_program->uniformLocation("tex_y");
    m_texU = m_program->uniformLocation("tex_u");
    m_texV = m_program->uniformLocation("tex_v");
    m_brightnessAdd = m_program->uniformLocation("brightnessAdd");
    m_contrastMult = m_program->uniformLocation("contrastMult");

    // A new context (first show, or another window) starts with no
    // textures: the picture on screen goes up again.
    m_textures.initialize(context());
    m_uploadPending = m_shown != nullptr;
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

void TalGLWidget::resizeGL(int w, int h)
{
    if (m_width == 0 || m_height == 0)
        return;
    glViewport(0, 0, w, h);
}

void TalGLWidget::paintGL()
{
    if (m_width == 0 || m_height == 0 || !m_program)
        return;
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_uploadPending && m_shown) {
        // Each picture goes up once; painting it again (a zoom, an expose, a
        // brightness change) draws the textures as they are.
        if (PicturePool::generation(m_shown->picture()) == m_shownGeneration)
            m_textures.upload(m_planes);
        else
            qCWarning(lcPlayback, "[%s::%d]pane %d: its picture was reused while shown; not drawn", "paintGL",
                      __LINE__, m_paneIndex);
        m_uploadPending = false;
    }
    if (m_textures.uploadCount() == 0)
        return; // no picture yet: black

    m_program->bind();
    m_program->setUniformValue(m_brightnessAdd, m_brightness);
    m_program->setUniformValue(m_contrastMult, m_contrast);
    m_textures.bind();
    m_program->setUniformValue(m_texY, 0);
    m_program->setUniformValue(m_texU, 1);
    m_program->setUniformValue(m_texV, 2);
    m_program->setAttributeArray(VertexLocation, Vertices, 2);
    m_program->setAttributeArray(TextureLocation, TextureCoordinates, 2);
    m_program->enableAttributeArray(VertexLocation);
    m_program->enableAttributeArray(TextureLocation);
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
