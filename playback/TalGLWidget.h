#pragma once
// Shows one channel's decoded YUV 4:2:0 pictures: three single-channel
// textures converted to RGB in a fragment shader that also applies the pane's
// brightness and contrast factors. The view keeps the item of the picture it
// shows (a decoder's picture stays untouched while held), uploads each new
// picture once, and lets the old one go back to its decoder. The view can be
// enlarged up to twice its pane and dragged inside it.
#include "PicturePlanes.h"
#include "PictureTextures.h"

#include <QOpenGLFunctions>
#include <QOpenGLWidget>

#include <cstdint>
#include <memory>

class H26xFrameItem;
class QOpenGLShaderProgram;

class TalGLWidget : public QOpenGLWidget, protected QOpenGLFunctions
{
    Q_OBJECT

public:
    static constexpr int MaxZoomSteps = 10; // zoom 1.0 to 2.0 in steps of 0.1

    TalGLWidget(int paneIndex, int width, int height, QWidget *parent = nullptr);
    ~TalGLWidget() override;

    int paneIndex() const { return m_paneIndex; }
    int pictureWidth() const { return m_width; }
    int pictureHeight() const { return m_height; }
    uint32_t pictureSeconds() const { return m_seconds; }
    // True once a picture was shown (a still can be taken).
    bool hasPicture() const { return m_shown != nullptr; }
    // Pictures uploaded into the textures, and texture sets made for a new
    // picture size, since the view's OpenGL context was set up.
    int uploadCount() const { return m_textures.uploadCount(); }
    int textureAllocations() const { return m_textures.allocationCount(); }
    bool usesPixelBuffers() const { return m_textures.usesPixelBuffers(); }

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
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void applyZoom();
    QSize parentSize() const;

    std::unique_ptr<QOpenGLShaderProgram> m_program;
    PictureTextures m_textures;
    int m_texY = -1, m_texU = -1, m_texV = -1, m_brightnessAdd = -1, m_contrastMult = -1;
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
