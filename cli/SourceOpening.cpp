#include "SourceOpening.h"

#include "CatalogueItems.h"

#include <QFileInfo>
#include <QJsonArray>

namespace {

QJsonArray sizesJson(const Reader &reader, int channels)
{
    const QVector<int> w = reader.widths();
    const QVector<int> h = reader.heights();
    QJsonArray sizes;
    for (int c = 0; c < channels && c < w.size(); ++c)
        sizes.append(QJsonArray{w[c], h[c]});
    return sizes;
}

QJsonObject bankCatalogue(const Reader &reader, bool archive)
{
    const QVector<BankEntry> banks = reader.banks();
    QVector<CatalogueSpan> spans;
    for (const BankEntry &e : banks)
        spans.append({e.start, e.end});
    const QVector<int> blocks = catalogueBlocks(spans);
    QJsonArray entries;
    for (int i = 0; i < banks.size(); ++i) {
        const BankEntry &e = banks[i];
        entries.append(QJsonObject{
            {"index", i},
            {"block", archive ? int(e.bankSeq) : blocks.value(i)},
            {"type", indexItemType(e.status)},
            {"start", double(e.start)},
            {"end", double(e.end)},
            {"path", e.path},
            {"bankSeq", e.bankSeq},
            {"sortKey", double(e.sortKey)},
            {"status", e.status},
            {"channels", e.channels},
            {"dataEnd", double(e.dataEnd)},
            {"bankSize", double(e.bankSize)},
            {"offset", double(e.offset)},
        });
    }
    QByteArray model = reader.modelCode();
    model.truncate(model.indexOf('\0') < 0 ? model.size() : model.indexOf('\0'));
    const int channels = reader.headChannelCount();
    return QJsonObject{{"mode", 1},
                       {"channels", channels},
                       {"sizes", sizesJson(reader, channels)},
                       {"model", QString::fromLatin1(model)},
                       {"entries", entries}};
}

QJsonObject fileCatalogue(const Reader &reader)
{
    const QVector<FileRecord> files = reader.files();
    QVector<CatalogueSpan> spans;
    for (const FileRecord &r : files) {
        const qint64 start = r.start.isValid() ? r.start.toSecsSinceEpoch() : 0;
        spans.append({start, start + qint64(r.trailer.duration())});
    }
    const QVector<int> blocks = catalogueBlocks(spans);
    QJsonArray entries;
    for (int i = 0; i < files.size(); ++i) {
        const FileRecord &r = files[i];
        entries.append(QJsonObject{
            {"index", i},
            {"block", blocks.value(i)},
            {"type", recordItemType(r.eventKind, r.parking)},
            {"start", double(spans[i].start)},
            {"end", double(spans[i].end)},
            {"path", r.path},
            {"sequence", double(r.sequence)},
            {"eventKind", double(r.eventKind)},
            {"parking", double(r.parking)},
            {"flag3", double(r.flag3)},
            {"flag4", double(r.flag4)},
            {"isMF2", double(r.isMF2)},
            {"duration", double(r.trailer.duration())},
            {"trailerChannels", r.trailer.channelCount()},
        });
    }
    const int channels = reader.largestChannelCount();
    return QJsonObject{{"mode", 2},
                       {"channels", channels},
                       {"sizes", sizesJson(reader, channels)},
                       {"entries", entries}};
}

} // namespace

bool parseKeys(const QString &text, Mf2Keys *keys)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        (*keys)[i] = parts[i].trimmed().toUInt(&ok, 0);
        if (!ok)
            return false;
    }
    return true;
}

// Opens source the way the viewer opens a path: an index card, a
// record-file card, a loose folder, an archive or one recording file.
// Returns the catalogue or an error text.
QString openSource(Reader &reader, const QString &source, QJsonObject *out)
{
    const QFileInfo info(source);
    if (!info.exists())
        return QStringLiteral("%1: no such file or folder").arg(source);
    const QString refusedText = QStringLiteral("%1: password refused").arg(source);
    if (info.isDir()) {
        if (reader.openIndexFile(source) == 0) {
            if (reader.loadBanks(source) < 0)
                return QStringLiteral("%1: index card with a missing data file or an unusable index head").arg(source);
            *out = bankCatalogue(reader, false);
            return QString();
        }
        if (reader.passwordRefused())
            return refusedText;
        const bool hasRecordFolder = QFileInfo(source + QStringLiteral("/record")).isDir();
        const bool hasIndex = QFileInfo(source + QStringLiteral("/index.ibx")).exists()
            || QFileInfo(source + QStringLiteral("/index.dat")).exists();
        int count = 0;
        if (hasRecordFolder)
            count = reader.scanCard(source);
        else if (hasIndex)
            return QStringLiteral("%1: unreadable index file").arg(source);
        else
            count = reader.scanFolder(source);
        if (reader.passwordRefused())
            return refusedText;
        if (count <= 0)
            return QStringLiteral("%1: no recordings found").arg(source);
        *out = fileCatalogue(reader);
        return QString();
    }
    if (info.suffix().compare(QLatin1String("smb"), Qt::CaseInsensitive) == 0) {
        const int count = reader.openIndexFormatFile(source);
        if (reader.passwordRefused())
            return refusedText;
        if (count < 0)
            return QStringLiteral("%1: not a Smart Backup archive").arg(source);
        *out = bankCatalogue(reader, true);
        return QString();
    }
    const int count = reader.openSingleFile(source);
    if (reader.passwordRefused())
        return refusedText;
    if (count <= 0)
        return QStringLiteral("%1: not a recording file").arg(source);
    *out = fileCatalogue(reader);
    return QString();
}


void usePassword(Reader &reader, const Mf2Keys &keys, bool havePassword, const QByteArray &password)
{
    reader.setMf2Keys(keys);
    reader.setPasswordPrompt([havePassword, password](PasswordKind kind, const QByteArray &expected, int length) {
        return havePassword && passwordMatches(kind, password, expected, length);
    });
}
