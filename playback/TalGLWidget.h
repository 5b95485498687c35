#pragma once
// Shows one channel's decoded YUV 4:2:0 pictures, converted to RGB with the
// pane's brightness and contrast factors. The view keeps the item of the
// picture it shows (a decoder's picture stays untouched while held) and lets
// the old one go back to its decoder. The view can be enlarged up to twice
// its pane and dragged inside it.
//
// It draws in one of two ways, chosen once for the program. With a graphics
// processor, an OpenGL surface fills the view: three single-channel
// textures, each picture uploaded once, converted in a fragment shader. On a
// software renderer (Mesa's llvmpipe, a remote desktop, a virtual machine)
// that way costs the GUI thread most: any OpenGL surface makes Qt compose
// the whole window in software on every update. There the view paints
// itself: the picture is scaled and converted to the view's size once, and
// the window stays a plain raster window.
#include "PicturePlanes.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

class H26xFrameItem;
class PaneGLSurface;
class QOpenGLContext;
struct SwsContext;

class TalGLWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxZoomSteps = 10; // zoom 1.0 to 2.0 in steps of 0.1

    // How views draw. Auto: OpenGL unless the renderer is a software one or
    // no OpenGL context can be made; ZV_PANE_RENDERER=opengl or raster
    // decides instead. Applies to views made afterwards.
    enum class Renderer { Auto, OpenGL, Raster };
    static void setRenderer(Renderer renderer);

    TalGLWidget(int paneIndex, int width, int height, QWidget *parent = nullptr);
    ~TalGLWidget() override;

    int paneIndex() const { return m_paneIndex; }
    int pictureWidth() const { return m_width; }
    int pictureHeight() const { return m_height; }
    uint32_t pictureSeconds() const { return m_seconds; }
    // True once a picture was shown (a still can be taken).
    bool hasPicture() const { return m_shown != nullptr; }
    bool isRaster() const { return !m_surface; }
    // OpenGL: pictures uploaded into the textures, and texture sets made for
    // a new picture size, since the view's context was set up. Raster:
    // pictures converted for the screen, and images made for a new size.
    int uploadCount() const;
    int textureAllocations() const;
    bool usesPixelBuffers() const;
    // The OpenGL surface's context; none when the view paints itself.
    QOpenGLContext *context() const;
    // What the view shows, drawn now at the view's size.
    QImage grabFramebuffer();

    // Multipliers of the converted colour values (slider value / 128).
    void setBrightness(float factor);
    float brightness() const { return m_brightness; }
    void setContrast(float factor);
    float contrast() const { return m_contrast; }

    void zoomIn();
    void zoomOut();
    void setZoom(float zoom);
    float zoomFactor() const { return 1.0f + m_zoomSteps / 10.0f; }
    // Gives the view its size: the pane's at zoom 1.0 (at the pane's origin),
    // otherwise w x h placed so that it still covers the pane.
    void applySize(int w, int h);

    // The current picture as width*height pixels 0xFFRRGGBB (still images).
    void toRgb32(uint32_t *buffer) const;

signals:
    void doubleClicked(int paneIndex);
    void clicked(int paneIndex);

public slots:
    // Takes ownership of item. A picture is kept and shown at its own size
    // (an item without a stated size must have this view's); any other item
    // is only destroyed and the last picture stays.
    void updateView(H26xFrameItem *item);
    void setXTranslation(float x);
    void setYTranslation(float y);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class PaneGLSurface;

    void applyZoom();
    QSize parentSize() const;
    // Repaints whichever way the view draws.
    void refresh();
    // True when the held picture is still the one that came (its pool
    // buffer was not handed out again); warns otherwise.
    bool pictureIntact() const;
    // Raster: brings the image up to date with the picture, size and factors.
    void convertForScreen();
    void applyFactors();

    PaneGLSurface *m_surface = nullptr; // OpenGL only; a child filling the view
    // Raster: the picture at the view's size, what it was made from, and the
    // converter (cached between pictures of one size).
    QImage m_imageBuffer; // rows with room to spare
    QImage m_image;       // the picture's part of it
    bool m_imageStale = true;
    SwsContext *m_sws = nullptr;
    int m_conversions = 0;
    int m_imageAllocations = 0;
    float m_brightness = 1.0f;
    float m_contrast = 1.0f;
    // The item of the picture on screen, where its planes lie, and the
    // generation its pool buffer had when it came (0: not pooled).
    std::unique_ptr<H26xFrameItem> m_shown;
    PicturePlanes m_planes;
    quint64 m_shownGeneration = 0;
    bool m_uploadPending = false;
    int m_paneIndex = 0;
    int m_width = 0;
    int m_height = 0;
    uint32_t m_seconds = 0;
    float m_xTranslation = 0.0f;
    float m_yTranslation = 0.0f;
    int m_zoomSteps = 0;
    QPoint m_dragReference;
};
