#include "PanePicture.h"

#include "TalGLWidget.h"

QImage panePicture(const TalGLWidget *view)
{
    if (!view || !view->hasPicture() || view->pictureWidth() <= 0 || view->pictureHeight() <= 0)
        return QImage();
    QImage image(view->pictureWidth(), view->pictureHeight(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // RGB32 rows hold exactly width pixels of 0xffRRGGBB: the view's own layout.
    view->toRgb32(reinterpret_cast<uint32_t *>(image.bits()));
    return image;
}
