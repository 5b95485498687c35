#pragma once
// The one place still images read a pane's picture from.
#include <QImage>

class TalGLWidget;

// The picture the view shows, at its full video resolution, as 32-bit RGB;
// a null image when the view is missing or has not shown a picture yet.
QImage panePicture(const TalGLWidget *view);
