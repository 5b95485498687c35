#pragma once
// Runs the independent tools (ffmpeg, ffprobe, sox) the playback tests judge by.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Standard output of the tool, or an empty array when it failed; the reason
// goes to *error.
inline QByteArray runTool(const QString &program, const QStringList &arguments, QString *error = nullptr,
                          QByteArray *standardError = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
        if (error)
            *error = program + " did not run";
        return {};
    }
    const QByteArray errors = process.readAllStandardError();
    if (standardError)
        *standardError = errors;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = program + " failed: " + QString::fromLocal8Bit(errors);
        return {};
    }
    return process.readAllStandardOutput();
}

inline QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
