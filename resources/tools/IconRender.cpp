// Build-time helper: renders SVG icon sources to PNG files at their own size,
// so the program carries plain pictures and needs no SVG plugin at run time.
// Usage: iconrender <output-dir> <source.svg> ...; each <name>.svg becomes
// <output-dir>/<name>.PNG.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Fonts need a GUI application; no display is needed to draw into images.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: iconrender <output-dir> <source.svg> ...\n");
        return 2;
    }
    const QDir outDir(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const QString source = QString::fromLocal8Bit(argv[i]);
        QSvgRenderer renderer(source);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "iconrender: %s is not a valid SVG file\n", argv[i]);
            return 1;
        }
        QImage image(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString target = outDir.filePath(QFileInfo(source).completeBaseName() + QStringLiteral(".PNG"));
        if (!image.save(target, "PNG")) {
            std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}
