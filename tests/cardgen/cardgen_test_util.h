#pragma once
// Plain byte reads and external-tool runs shared by the generator's tests.
#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QtEndian>

inline QByteArray readBytes(const QString &path, qint64 offset = 0, qint64 count = -1)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    if (offset < 0)
        offset += f.size();
    f.seek(offset);
    return count < 0 ? f.readAll() : f.read(count);
}

inline QJsonObject readJson(const QString &path)
{
    return QJsonDocument::fromJson(readBytes(path)).object();
}

inline quint64 leAt(const QByteArray &b, int off, int width)
{
    quint64 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | quint8(b.at(off + i));
    return v;
}

struct RunResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline RunResult run(const QString &program, const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.start(program, args);
    RunResult r;
    if (!p.waitForStarted(10000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
