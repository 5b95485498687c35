#include "RecordFileScan.h"

#include "RecordingName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <numeric>

bool hasMf2Suffix(const QString &path)
{
    return path.endsWith(QLatin1String(".mf2"), Qt::CaseInsensitive);
}

bool RecordFileScan::parseAndAppend(const QString &path, const QByteArray &name)
{
    RecordingName parsed;
    if (!parseRecordingName(name, &parsed))
        return false;
    QFile file(path);
    // Unbuffered: each read below is one read call of exactly its length.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return true;
    FileTrailer trailer;
    if (!readFileTrailer(file, file.size(), trailerNameKey(name), &trailer))
        return true;
    FileRecord r;
    r.path = path;
    r.isMF2 = parsed.isMF2;
    r.sequence = parsed.sequence;
    r.eventKind = parsed.eventKind;
    r.parking = parsed.parking;
    r.flag3 = parsed.flag3;
    r.flag4 = parsed.flag4;
    r.start = parsed.start;
    r.trailer = trailer;
    list.append(r);
    passwords.append(hasMf2Suffix(path) ? readMf2Password(file, keys) : QByteArray());
    largest = qMax(largest, trailer.channelCount());
    return true;
}

void RecordFileScan::scanFolder(const QString &folder)
{
    QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("*.mp4"), QStringLiteral("*.mf2")},
                                            QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names)
        parseAndAppend(dir.filePath(name), name.toUtf8());
}

void RecordFileScan::addSingleFile(const QString &path)
{
    const QString fileName = QFileInfo(path).fileName();
    const QByteArray name = fileName.toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    FileTrailer trailer;
    if (!readFileTrailer(file, file.size(), trailerNameKey(name), &trailer) || trailer.name() != name)
        return;
    file.close();
    parseAndAppend(path, trailer.name());
}

void RecordFileScan::sortBySequence()
{
    QVector<int> order(list.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return list[a].sequence < list[b].sequence; });
    QVector<FileRecord> sorted;
    QVector<QByteArray> sortedPasswords;
    sorted.reserve(list.size());
    sortedPasswords.reserve(list.size());
    for (int i : order) {
        sorted.append(list[i]);
        sortedPasswords.append(passwords[i]);
    }
    list.swap(sorted);
    passwords.swap(sortedPasswords);
}

void RecordFileScan::removeLocked(const QVector<QByteArray> &refused)
{
    QVector<FileRecord> kept;
    QVector<QByteArray> keptPasswords;
    for (int i = 0; i < list.size(); ++i) {
        if (!passwords[i].isEmpty() && refused.contains(passwords[i]))
            continue;
        kept.append(list[i]);
        keptPasswords.append(passwords[i]);
    }
    list.swap(kept);
    passwords.swap(keptPasswords);
    largest = 0;
    for (const FileRecord &r : list)
        largest = qMax(largest, r.trailer.channelCount());
}
