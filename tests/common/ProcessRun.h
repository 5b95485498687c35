#pragma once
// The plumbing every area's tests share: running the independent tools they
// judge by, and reading files and little-endian fields as a hex dump shows them.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

struct ProcessRun
{
    int exitCode = -1; // -1: did not start, crashed or hung
    QByteArray out, err;
};

inline ProcessRun runProcess(const QString &program, const QStringList &args, const QByteArray &input = {},
                             const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProcessRun r;
    if (!p.waitForStarted(10000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(120000);
    r.exitCode = finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Standard output of a tool that must succeed; a failure fails the running test.
inline QByteArray toolOutput(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    const ProcessRun r = runProcess(program, args, input);
    EXPECT_EQ(r.exitCode, 0) << program.toStdString() << ": " << r.err.constData();
    return r.out;
}

// count bytes from offset (negative: from the end); empty when unreadable.
inline QByteArray readFile(const QString &path, qint64 offset = 0, qint64 count = -1)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset < 0 ? offset + f.size() : offset))
        return {};
    return count < 0 ? f.readAll() : f.read(count);
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Unsigned little-endian field of width bytes; 0 past the end of b.
inline quint64 leAt(const QByteArray &b, qint64 at, int width)
{
    quint64 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | (at + i < b.size() ? quint8(b.at(int(at + i))) : 0);
    return v;
}
