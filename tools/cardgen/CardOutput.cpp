#include "CardOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

CardOutput::CardOutput(const QString &root) : root(QFileInfo(root).absoluteFilePath()) {}

CardOutput::~CardOutput()
{
    if (committed)
        return;
    for (const QString &f : files)
        QFile::remove(f);
    for (int i = dirs.size() - 1; i >= 0; --i)
        QDir().rmdir(dirs[i]);
}

QString CardOutput::absolute(const QString &path) const
{
    return QDir::isAbsolutePath(path) ? path : QDir(root).filePath(path);
}

int CardOutput::track(const QString &path, QString *error)
{
    const QString abs = absolute(path);
    if (!files.contains(abs))
        files.append(abs);
    return prepareParent(abs, error);
}

int CardOutput::begin(QString *error)
{
    QDir dir(root);
    if (dir.exists()) {
        if (!dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty()) {
            *error = QStringLiteral("%1 is not empty: refusing to write a card over existing files").arg(root);
            return -1;
        }
        return 0;
    }
    return prepareParent(QDir(root).filePath(QStringLiteral("x")), error);
}

int CardOutput::prepareParent(const QString &file, QString *error)
{
    QStringList missing;
    for (QDir d = QFileInfo(file).absoluteDir(); !d.exists(); d.setPath(QFileInfo(d.absolutePath()).path()))
        missing.prepend(d.absolutePath());
    for (const QString &d : missing) {
        if (!QDir().mkdir(d)) {
            *error = QStringLiteral("cannot create folder %1").arg(d);
            return -1;
        }
        dirs.append(d);
    }
    return 0;
}

int CardOutput::writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString abs = absolute(path);
    if (track(abs, error) < 0)
        return -1;
    QFile f(abs);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(abs, f.errorString());
        return -1;
    }
    return 0;
}

int CardOutput::createSized(const QString &path, qint64 size, QString *error)
{
    const QString abs = absolute(path);
    if (track(abs, error) < 0)
        return -1;
    QFile f(abs);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.resize(size)) {
        *error = QStringLiteral("cannot create %1: %2").arg(abs, f.errorString());
        return -1;
    }
    return 0;
}

int CardOutput::writeAt(const QString &path, qint64 offset, const QByteArray &bytes, QString *error)
{
    QFile f(absolute(path));
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset) || f.write(bytes) != bytes.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString());
        return -1;
    }
    return 0;
}
