#pragma once
// Builds FileRecords from recording files: the name must parse and the
// trailer must confirm it; anything else is left out silently.
#include "FileRecord.h"
#include "Mf2Password.h"

#include <QVector>

class RecordFileScan
{
public:
    explicit RecordFileScan(const Mf2Keys &keys) : keys(keys) {}

    // Parses name, reads the trailer of the file at path and appends the
    // record when the trailer confirms the name. Returns true when the name
    // parsed, whether or not a record was appended.
    bool parseAndAppend(const QString &path, const QByteArray &name);

    // Every *.mp4 and *.mf2 (any case) directly in folder, in name order.
    void scanFolder(const QString &folder);

    // One file by path: its trailer must carry exactly the file's own name.
    void addSingleFile(const QString &path);

    // Stable sort by sequence (unsigned).
    void sortBySequence();

    const QVector<FileRecord> &records() const { return list; }
    // The unscrambled password of each record (empty: none), in list order.
    const QVector<QByteArray> &mf2Passwords() const { return passwords; }
    int largestChannelCount() const { return largest; }
    // Removes the records whose password is one of refused.
    void removeLocked(const QVector<QByteArray> &refused);

private:
    Mf2Keys keys;
    QVector<FileRecord> list;
    QVector<QByteArray> passwords;
    int largest = 0;
};

// True for a path whose name ends in ".mf2" in any case.
bool hasMf2Suffix(const QString &path);
