// Program entry: OpenGL flavour, dark style, the three-second splash, then
// the main window on the path named on the command line (if any).
#include "DarkStyle.h"
#include "StartupSplash.h"
#include "TalViewerMainDialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QFileInfo>
#include <QIcon>
#include <QOpenGLContext>

#include <memory>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(resources);

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    // Qt reads the OpenGL flavour attributes only before the application is
    // created. The module type is fixed when Qt is built, so it can be asked
    // for first.
    if (QOpenGLContext::openGLModuleType() == QOpenGLContext::LibGLES) {
        QCoreApplication::setAttribute(Qt::AA_UseOpenGLES);
        qDebug("GLES");
    } else {
        QCoreApplication::setAttribute(Qt::AA_UseDesktopOpenGL);
        qDebug("OPENGL");
    }

    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("main", "Viewer for dash camera memory cards."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("path"),
        QCoreApplication::translate("main", "Card root, folder, recording file or .smb archive to open."),
        QStringLiteral("[path]"));
    parser.process(app);
    const QStringList arguments = parser.positionalArguments();
    const QString startPath = arguments.isEmpty() || arguments.first().isEmpty()
        ? QString()
        : QFileInfo(arguments.first()).absoluteFilePath();

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resource/nologo_icon.png")));
    QApplication::setStyle(new DarkStyle);

    std::unique_ptr<TalViewerMainDialog> window;
    StartupSplash splash(QPixmap(QStringLiteral(":/resource/nologo_spliashbg.png")));
    QObject::connect(&splash, &StartupSplash::timeUp, [&]() {
        window = std::make_unique<TalViewerMainDialog>();
        window->setStartPath(startPath);
        window->show();
        splash.finish(window.get());
    });
    splash.start();

    return app.exec();
}
