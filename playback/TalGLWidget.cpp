#include "TalGLWidget.h"

#include "H26xFrameItem.h"
#include "LogCategories.h"
#include "PictureSize.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QtGlobal>

#include <algorithm>
#include <cstring>

#ifndef GL_RED
#define GL_RED 0x1903
#endif
#ifndef GL_R8
#define GL_R8 0x8229
#endif

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
    if (width > 0 && height > 0)
        allocatePlanes(width, height);
}

// Black planes for a picture of width x height (both within PictureSize).
void TalGLWidget::allocatePlanes(int width, int height)
{
    m_width = width;
    m_height = height;
    m_planeYSize = size_t(width) * size_t(height);
    m_planeCSize = size_t((width + 1) / 2) * size_t((height + 1) / 2);
    m_planeY.reset(new uint8_t[m_planeYSize]());
    m_planeU.reset(new uint8_t[m_planeCSize]);
    m_planeV.reset(new uint8_t[m_planeCSize]);
    memset(m_planeU.get(), 128, m_planeCSize);
    memset(m_planeV.get(), 128, m_planeCSize);
}

TalGLWidget::~TalGLWidget()
{
    if (m_textures[0] && context()) {
        makeCurrent();
        glDeleteTextures(3, m_textures);
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
    if (item && item->data() && m_planeY) {
        const bool stated = item->pictureWidth() != 0 || item->pictureHeight() != 0;
        const int w = stated ? item->pictureWidth() : m_width;
        const int h = stated ? item->pictureHeight() : m_height;
        if (PictureSize::isPlayable(w, h) && item->size() == PictureSize::yuv420Bytes(w, h)) {
            // The planes follow the picture the decoder produced.
            if (w != m_width || h != m_height)
                allocatePlanes(w, h);
            const uint8_t *data = item->data();
            memcpy(m_planeY.get(), data, m_planeYSize);
            memcpy(m_planeU.get(), data + m_planeYSize, m_planeCSize);
            memcpy(m_planeV.get(), data + m_planeYSize + m_planeCSize, m_planeCSize);
            m_seconds = item->record().sec;
            m_hasPicture = true;
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
    glEnable(GL_DEPTH_TEST);

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

    // One-channel textures: GL_RED where the context has it (OpenGL 3, ES 3),
    // luminance on older contexts; both read back as .r in the shader.
    const QSurfaceFormat format = context()->format();
    m_textureFormat = format.majorVersion() >= 3 ? GL_RED : GL_LUMINANCE;
    glGenTextures(3, m_textures);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

void TalGLWidget::resizeGL(int w, int h)
{
    if (m_width == 0 || m_height == 0)
        return;
    glViewport(0, 0, w, h);
}

void TalGLWidget::uploadPlane(int unit, GLuint texture, const uint8_t *plane, int w, int h)
{
    glActiveTexture(GLenum(GL_TEXTURE0 + unit));
    glBindTexture(GL_TEXTURE_2D, texture);
    const GLint internal = m_textureFormat == GL_RED ? GL_R8 : GL_LUMINANCE;
    glTexImage2D(GL_TEXTURE_2D, 0, internal, w, h, 0, m_textureFormat, GL_UNSIGNED_BYTE, plane);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void TalGLWidget::paintGL()
{
    if (m_width == 0 || m_height == 0 || !m_program)
        return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    m_program->bind();
    m_program->setUniformValue(m_brightnessAdd, m_brightness);
    m_program->setUniformValue(m_contrastMult, m_contrast);

    // Rows are packed without padding; a chroma width that is not a multiple
    // of 4 would be misread with the default alignment.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    uploadPlane(0, m_textures[0], m_planeY.get(), m_width, m_height);
    uploadPlane(1, m_textures[1], m_planeU.get(), (m_width + 1) / 2, (m_height + 1) / 2);
    uploadPlane(2, m_textures[2], m_planeV.get(), (m_width + 1) / 2, (m_height + 1) / 2);

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
    if (!buffer || !m_planeY)
        return;
    const size_t chromaW = size_t(m_width + 1) / 2;
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            const size_t index = size_t(y / 2) * chromaW + size_t(x / 2);
            const int u = m_planeU[index] - 128;
            const int v = m_planeV[index] - 128;
            const int luma = m_planeY[size_t(y) * m_width + x];
            const uint8_t r = clampByte(luma + int(1.402f * v));
            const uint8_t g = clampByte(luma - int(0.344f * u + 0.714f * v));
            const uint8_t b = clampByte(luma + int(1.772f * u));
            buffer[size_t(y) * m_width + x] = 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
        }
    }
}
