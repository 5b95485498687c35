#include "SettingsImage.h"

#include "Config.h"
#include "pvna_log.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>

namespace SettingsImage {

namespace {

quint32 u32At(const unsigned char *p, int offset)
{
    return quint32(p[offset]) | quint32(p[offset + 1]) << 8 | quint32(p[offset + 2]) << 16
        | quint32(p[offset + 3]) << 24;
}

// Copies the sections from src to dst (or, with dst null, only marks the
// kept bytes). Counts are read from src and checked before a step copies
// anything; a step with a count beyond its room copies nothing.
class SectionCopy
{
public:
    SectionCopy(const unsigned char *src, unsigned char *dst, QVector<char> *kept)
        : src(src), dst(dst), kept(kept)
    {
    }

    void run()
    {
        // Step 0: identity and version texts.
        bytes(24, 392);
        // Step 1: network, with up to 4 access points of 360 bytes.
        bytes(640, 4);
        text(644, 64);
        text(708, 32);
        text(740, 32);
        if (count(772, 4, "access points")) {
            bytes(772, 4);
            for (quint32 i = 0; i < u32At(src, 772); ++i) {
                const int e = 776 + 360 * int(i);
                text(e, 32);
                text(e + 32, 64);
                bytes(e + 96, 8);
                text(e + 104, 256);
            }
        }
        // Step 2: time zone, language and the word between them.
        bytes(2216, 12);
        // Step 3: up to 8 channels of 292 bytes.
        if (count(2228, 8, "channels"))
            bytes(2228, 4 + 292 * int(u32At(src, 2228)));
        // Step 4: up to 8 partitions of 944 bytes, each with up to 8
        // sub-entries of 100 bytes from entry offset 144.
        if (count(4568, 8, "partitions") && subCounts(4572, u32At(src, 4568), 944, 140, 8, "partition entries")) {
            bytes(4568, 4);
            for (quint32 i = 0; i < u32At(src, 4568); ++i) {
                const int e = 4572 + 944 * int(i);
                bytes(e, 144 + 100 * int(u32At(src, e + 140)));
            }
        }
        // Step 5: up to 8 entries of 56 bytes, then up to 8 entries of 108
        // bytes, each a word, a sub-count and up to 5 items of 20 bytes.
        if (count(12124, 8, "schedule entries"))
            bytes(12124, 4 + 56 * int(u32At(src, 12124)));
        if (count(12576, 8, "schedule groups") && subCounts(12580, u32At(src, 12576), 108, 4, 5, "schedule items")) {
            bytes(12576, 4);
            for (quint32 i = 0; i < u32At(src, 12576); ++i) {
                const int e = 12580 + 108 * int(i);
                bytes(e, 8 + 20 * int(u32At(src, e + 4)));
            }
        }
        // Steps 6 to 8: audio and volume, 20 bytes, power.
        bytes(13444, 16);
        bytes(13460, 20);
        bytes(13480, 32);
        // Step 9: eleven words and eight 328-byte entries, a text, 88 bytes.
        bytes(13512, 16180 - 13512);
        text(16500, 128);
        bytes(16628, 16716 - 16628);
        // Step 10: notifications and safety.
        bytes(16972, 4);
        bytes(16976, 24);
        bytes(17256, 4);
        bytes(17272, 40);
        bytes(17568, 4);
        bytes(17584, 2);
        // Step 11: up to 8 entries of 24 bytes.
        if (count(17592, 8, "entries at 17592"))
            bytes(17592, 4 + 24 * int(u32At(src, 17592)));
        // Step 12: the final section.
        bytes(17788, DataSize - 17788);
    }

    bool inBounds = true;
    QString reason;

private:
    void bytes(int offset, int len)
    {
        Q_ASSERT(offset >= 0 && len >= 0 && offset + len <= DataSize);
        if (dst)
            std::memcpy(dst + offset, src + offset, size_t(len));
        if (kept)
            std::memset(kept->data() + offset, 1, size_t(len));
    }
    // A zero-terminated text bounded by its field: bytes after the end of
    // the text are not kept.
    void text(int offset, int size)
    {
        const void *end = std::memchr(src + offset, 0, size_t(size));
        const int len = end ? int(static_cast<const unsigned char *>(end) - (src + offset)) : size;
        bytes(offset, len);
    }
    bool count(int offset, quint32 bound, const char *what)
    {
        const quint32 n = u32At(src, offset);
        if (n <= bound)
            return true;
        refuse(QStringLiteral("%1 count %2 at offset %3 is above %4").arg(QLatin1String(what)).arg(n).arg(offset).arg(bound));
        return false;
    }
    bool subCounts(int first, quint32 entries, int entrySize, int countOffset, quint32 bound, const char *what)
    {
        for (quint32 i = 0; i < entries; ++i) {
            if (!count(first + entrySize * int(i) + countOffset, bound, what))
                return false;
        }
        return true;
    }
    void refuse(const QString &text)
    {
        inBounds = false;
        if (!reason.isEmpty())
            reason += QStringLiteral("; ");
        reason += text;
    }

    const unsigned char *src;
    unsigned char *dst;
    QVector<char> *kept;
};

QByteArray digestHex(const char *data)
{
    return QCryptographicHash::hash(QByteArray::fromRawData(data, DataSize), QCryptographicHash::Md5).toHex();
}

} // namespace

LoadResult parse(const QByteArray &file, unsigned char *image)
{
    std::memset(image, 0, DataSize);
    LoadResult result;
    if (file.size() != FileSize) {
        result.reason = QStringLiteral("the file has %1 bytes instead of %2").arg(file.size()).arg(FileSize);
        return result;
    }
    const bool digestMatches = digestHex(file.constData()) == file.mid(DigestOffset, 32);
    SectionCopy copy(reinterpret_cast<const unsigned char *>(file.constData()), image, nullptr);
    copy.run();
    result.read = true;
    result.faithful = digestMatches && copy.inBounds;
    QStringList reasons;
    if (!digestMatches)
        reasons << QStringLiteral("its MD5 does not match");
    if (!copy.inBounds)
        reasons << copy.reason;
    result.reason = reasons.join(QStringLiteral("; "));
    return result;
}

LoadResult loadFile(const QString &path, unsigned char *image)
{
    std::memset(image, 0, DataSize);
    LoadResult result;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        result.reason = QStringLiteral("%1 cannot be opened").arg(path);
        return result;
    }
    const qint64 size = file.size();
    if (size != FileSize) {
        result.reason = QStringLiteral("%1 has %2 bytes instead of %3").arg(path).arg(size).arg(FileSize);
        return result;
    }
    const QByteArray bytes = file.read(FileSize + 1);
    if (bytes.size() != FileSize) {
        result.reason = QStringLiteral("%1 could not be read whole (%2 of %3 bytes)").arg(path).arg(bytes.size()).arg(FileSize);
        return result;
    }
    result = parse(bytes, image);
    if (!result.reason.isEmpty())
        result.reason = path + QStringLiteral(": ") + result.reason;
    return result;
}

bool serialize(const unsigned char *image, QByteArray *file, QString *reason)
{
    QByteArray out(FileSize, '\0');
    SectionCopy copy(image, reinterpret_cast<unsigned char *>(out.data()), nullptr);
    copy.run();
    if (!copy.inBounds) {
        if (reason)
            *reason = copy.reason;
        return false;
    }
    const QByteArray digest = digestHex(out.constData());
    std::memcpy(out.data() + DigestOffset, digest.constData(), 32);
    *file = out;
    return true;
}

QVector<char> keptBytes(const unsigned char *image)
{
    QVector<char> kept(DataSize, 0);
    SectionCopy copy(image, nullptr, &kept);
    copy.run();
    return kept;
}

QString viewerCopyPath(int variant)
{
    if (variant >= 1 && variant <= 3)
        return Config::settingsFolder() + QStringLiteral("/ZidavOva.cfg");
    if (variant == 255)
        return Config::settingsFolder() + QStringLiteral("/ZidavOvaTest.cfg");
    return QString();
}

int loadViewerCopy(int variant, unsigned char *image)
{
    const QString path = viewerCopyPath(variant);
    // No copy yet is the usual case before the first save: nothing to report.
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        std::memset(image, 0, DataSize);
        return -1;
    }
    return PVNA_Msvr2Viewer(QFile::encodeName(path).constData(), image, 0);
}

} // namespace SettingsImage

int PVNA_Msvr2Viewer(const char *path, unsigned char *image, int direction)
{
    using namespace SettingsImage;
    if (!path || !image)
        return -1;
    const QString name = QFile::decodeName(path);
    if (direction == 0) {
        std::memset(image, 0, DataSize);
        QFile file(name);
        if (!QFileInfo(name).isFile() || !file.open(QIODevice::ReadOnly)) {
            PVNA_ERROR("File not found!!!\n");
            return -1;
        }
        const qint64 size = file.size();
        if (size <= 0 || size > MaxFileSize) {
            PVNA_ERROR("Out of range buffer size\n");
            return -1;
        }
        if (size != FileSize) {
            PVNA_ERROR("Wrong settings file size %lld (expected %d)\n", static_cast<long long>(size), FileSize);
            return -1;
        }
        const QByteArray bytes = file.read(FileSize);
        if (bytes.size() != FileSize) {
            PVNA_ERROR("Fail to file read!! %d::%d\n", FileSize, int(bytes.size()));
            return -1;
        }
        const LoadResult result = parse(bytes, image);
        if (!result.faithful) {
            std::memset(image, 0, DataSize);
            if (result.reason.contains(QLatin1String("MD5")))
                PVNA_ERROR("Fail to md5sum!!\n");
            else
                PVNA_ERROR("%s\n", qPrintable(result.reason));
            return -1;
        }
        return 0;
    }
    QByteArray bytes;
    QString reason;
    if (!serialize(image, &bytes, &reason)) {
        PVNA_ERROR("%s\n", qPrintable(reason));
        return -1;
    }
    QSaveFile out(name);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        PVNA_ERROR("Fail to file write!! %s\n", qPrintable(out.errorString()));
        return -1;
    }
    return 0;
}
