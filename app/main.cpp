// Program entry: OpenGL flavour, dark style, the three-second splash, then
// the main window on the path named on the command line (if any).
#include "DarkStyle.h"
#include "FileNameCodec.h"
#include "LogCategories.h"
#include "StartupSplash.h"
#include "StopSignal.h"
#include "TalViewerMainDialog.h"
#include "ZvVersion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QOpenGLContext>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// SIGINT, SIGTERM and SIGHUP close the viewer the way its close button
// does: open dialogs first (an export or backup stops and removes its
// partial output), then the main window, whose close stops the playback
// threads in order.
void closeOnStopSignal(QApplication &app, std::unique_ptr<TalViewerMainDialog> &window)
{
    if (!installStopSignals()) {
        qCWarning(lcShell, "cannot watch for stop signals");
        return;
    }
    auto *notifier = new QSocketNotifier(stopSignalFd(), QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &window, notifier] {
        drainStopSignalFd();
        notifier->setEnabled(false);
        qCDebug(lcShell, "signal %d: closing", stopSignal());
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w != window.get() && w->isVisible())
                w->close();
        // The dialogs' own event loops end before the window closes.
        QTimer::singleShot(0, &app, [&app, &window] {
            if (window)
                window->close();
            app.quit();
        });
    });
}

} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(resources);

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    // Qt reads the OpenGL flavour attributes only before the application is
    // created. The module type is fixed when Qt is built, so it can be asked
    // for first.
    const bool gles = QOpenGLContext::openGLModuleType() == QOpenGLContext::LibGLES;
    QCoreApplication::setAttribute(gles ? Qt::AA_UseOpenGLES : Qt::AA_UseDesktopOpenGL);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zidavova-viewer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZV_VERSION));
    installLosslessFileNames();

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("main", "Viewer for dash camera memory cards."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QCoreApplication::translate("main", "Silence the diagnostic lines."));
    parser.addOption(quietOption);
    const QCommandLineOption playOption(
        QStringLiteral("play"), QCoreApplication::translate("main", "Play catalogue entry N once the path is open."),
        QStringLiteral("N"));
    parser.addOption(playOption);
    parser.addPositionalArgument(
        QStringLiteral("path"),
        QCoreApplication::translate("main", "Card root, folder, recording file or .smb archive to open."),
        QStringLiteral("[path]"));
    // Arguments decoded with the lossless codec, so a path that is not
    // valid UTF-8 still names the same file.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    parser.process(arguments);
    installLogControl(parser.isSet(quietOption));
    qCDebug(lcShell, gles ? "GLES" : "OPENGL");

    int startEntry = -1;
    if (parser.isSet(playOption)) {
        bool ok = false;
        startEntry = parser.value(playOption).toInt(&ok);
        if (!ok || startEntry < 0) {
            fprintf(stderr, "zidavova-viewer: --play wants a catalogue index\n");
            return 2;
        }
    }
    const QStringList positional = parser.positionalArguments();
    const QString startPath = positional.isEmpty() || positional.first().isEmpty()
        ? QString()
        : QFileInfo(positional.first()).absoluteFilePath();

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resource/nologo_icon.png")));
    QApplication::setStyle(new DarkStyle);

    std::unique_ptr<TalViewerMainDialog> window;
    closeOnStopSignal(app, window);
    StartupSplash splash(QPixmap(QStringLiteral(":/resource/nologo_spliashbg.png")));
    QObject::connect(&splash, &StartupSplash::timeUp, [&]() {
        if (stopRequested())
            return;
        window = std::make_unique<TalViewerMainDialog>();
        window->setStartPath(startPath);
        window->setStartEntry(startEntry);
        window->show();
        splash.finish(window.get());
    });
    splash.start();

    return app.exec();
}
