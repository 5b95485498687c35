#pragma once
// The viewer's look: Fusion with a dark palette and the style sheet from the
// resources. Installed once with QApplication::setStyle(new DarkStyle).
#include <QProxyStyle>

class DarkStyle : public QProxyStyle
{
    Q_OBJECT

public:
    DarkStyle();

    QPalette standardPalette() const override;
    void polish(QPalette &palette) override;
    void polish(QApplication *app) override;
    using QProxyStyle::polish;

    // Where the style sheet lives in the compiled-in resources.
    static const char *const styleSheetPath;
};
