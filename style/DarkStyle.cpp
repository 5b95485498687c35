#include "DarkStyle.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QStyleFactory>

const char *const DarkStyle::styleSheetPath = ":/resource/darkstyle.qss";

DarkStyle::DarkStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
}

QPalette DarkStyle::standardPalette() const
{
    const QColor window(53, 53, 53);
    const QColor base(35, 35, 35);
    const QColor text(230, 230, 230);
    const QColor disabledText(127, 127, 127);
    const QColor accent(144, 0, 0);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
    palette.setColor(QPalette::ToolTipBase, QColor(28, 28, 28));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(255, 64, 64));
    palette.setColor(QPalette::Link, QColor(90, 160, 230));
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Light, QColor(80, 80, 80));
    palette.setColor(QPalette::Midlight, QColor(66, 66, 66));
    palette.setColor(QPalette::Mid, QColor(40, 40, 40));
    palette.setColor(QPalette::Dark, QColor(25, 25, 25));
    palette.setColor(QPalette::Shadow, QColor(10, 10, 10));

    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
    return palette;
}

void DarkStyle::polish(QPalette &palette)
{
    palette = standardPalette();
}

void DarkStyle::polish(QApplication *app)
{
    QProxyStyle::polish(app);
    if (!app)
        return;
    QFile sheet(QString::fromLatin1(styleSheetPath));
    if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // The look degrades to plain dark Fusion; nothing else depends on it.
        qDebug() << "style sheet not found:" << styleSheetPath;
        return;
    }
    app->setStyleSheet(QString::fromUtf8(sheet.readAll()));
}
