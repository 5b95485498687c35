#pragma once
// Writes to a card that never leave a file half-written: the new content
// goes to a temporary file beside the target, is flushed to the disk, read
// back and compared, and only then renamed over the target. A failure at
// any step removes the temporary file, leaves the target as it was and
// says which file and why.
#include <QByteArray>
#include <QString>

namespace SafeFileWrite {

// Replaces (or creates) target with content.
bool replaceFile(const QString &target, const QByteArray &content, QString *error);

// Changes bytes.size() bytes of the existing file target at offset and
// keeps every other byte: the whole file is copied with the change, the copy
// checked against the original outside the change, then renamed into place.
// The file must already reach offset + bytes.size(); it is never grown.
bool patchFile(const QString &target, qint64 offset, const QByteArray &bytes, QString *error);

// True when the file's permissions say read-only (also for root, who could
// write anyway): a read-only flag on a card file is the user's choice.
bool isMarkedReadOnly(const QString &path);

// Fault injection for tests: every temporary file written after this call
// ends after limit bytes, as a full disk would end it (-1 switches it off).
void setWriteLimitForTesting(qint64 limit);

} // namespace SafeFileWrite
