#pragma once
// The files a run creates. On failure they are removed again, so a refused
// run leaves nothing half-written behind.
#include <QByteArray>
#include <QString>
#include <QStringList>

class CardOutput
{
public:
    explicit CardOutput(const QString &root);
    ~CardOutput();

    // Creates the card folder; refuses one that already holds files.
    int begin(QString *error);
    // Writes a whole file (path relative to the card folder, or absolute).
    int writeFile(const QString &path, const QByteArray &bytes, QString *error);
    // Creates a file of `size` bytes (sparse where the system allows).
    int createSized(const QString &path, qint64 size, QString *error);
    int writeAt(const QString &path, qint64 offset, const QByteArray &bytes, QString *error);
    QString absolute(const QString &path) const;
    // Keeps everything written; without it the destructor removes it all.
    void commit() { committed = true; }
    // Registers a file that someone else (the MP4 muxer) will write, and
    // creates its folder.
    int track(const QString &path, QString *error);

private:
    int prepareParent(const QString &file, QString *error);

    QString root;
    QStringList files;
    QStringList dirs;   // created by us, deepest last
    bool committed = false;
};
