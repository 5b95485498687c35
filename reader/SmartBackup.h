#pragma once
// Smart Backup: chosen recordings saved off the card. From an index store
// (or an archive) one archive file: head, bank table and byte-for-byte
// copies of the banks. From a record-file store the recording files are
// copied into a folder under their own names.
//
// Nothing is ever left half-written: every output is written to a temporary
// file beside it and renamed into place only once it is complete and reads
// back; a failure or a cancel removes the temporary file and leaves any
// earlier file untouched. QtCore only, so the dialog and zidavova-tool run
// the same code.
#include "BankEntry.h"
#include "FileRecord.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

namespace SmartBackup {

constexpr int MaxItems = 50;
constexpr int StoredPasswordLength = 12;

struct Progress {
    int item = 0;           // 0-based item being copied
    int count = 0;          // items in the request
    qint64 bytesDone = 0;   // of every item together
    qint64 bytesTotal = 0;
    int percent() const;
};
using ProgressFn = std::function<void(const Progress &)>;
// Polled between blocks; true stops the backup (which then removes what it began).
using CancelFn = std::function<bool()>;

struct ArchiveRequest {
    QVector<BankEntry> banks;   // in archive order
    QString output;             // the .smb file
    bool usePassword = false;
    QString password;           // as typed
    bool overwrite = false;     // replace an existing output
};

struct FolderRequest {
    QVector<FileRecord> records;
    QString folder;             // created when missing
    bool overwrite = false;     // replace files of the same name
};

struct Skipped {
    int item = 0;
    QString source;
    QString reason;
};

struct Result {
    enum Status { Done, Refused, Failed, Cancelled };
    Status status = Failed;
    QString error;              // why, unless Done
    QString output;             // the archive or the folder
    QStringList written;        // files now in place
    QVector<int> writtenItems;  // the request's item of each, in the same order
    QVector<Skipped> skipped;   // folder copy: items not copied
    qint64 bytes = 0;           // bytes written
};

// The 12 stored bytes of a typed password: its UTF-8 bytes cut to 12, zero
// padded. Cut by bytes, not characters: the reader compares the first 10
// bytes of what is typed later, so the typed text must match byte for byte.
QByteArray storedPassword(const QString &typed);

// The first "backup<n>.smb" (n = 0, 1, ...) that does not exist in folder.
QString defaultArchiveName(const QString &folder);
// The first "backup<n>" that does not exist in folder, for folder copies.
QString defaultFolderName(const QString &folder);

// Why a request cannot start (no items, more than 50, no output, an output
// that is one of the sources, an existing output without overwrite, an empty
// password); empty when it can.
QString refusal(const ArchiveRequest &request);
QString refusal(const FolderRequest &request);

// The archive head and the 72-byte table record of a bank, as written.
QByteArray archiveHead(const QVector<BankEntry> &banks, const QByteArray &storedPassword, bool usePassword);
QByteArray tableRecord(const BankEntry &bank);

Result writeArchive(const ArchiveRequest &request, const ProgressFn &progress = {}, const CancelFn &cancel = {});
Result copyRecords(const FolderRequest &request, const ProgressFn &progress = {}, const CancelFn &cancel = {});

} // namespace SmartBackup
