#include "Reader.h"

#include "ArchiveHead.h"
#include "BankWalk.h"
#include "FileAccess.h"
#include "LogCategories.h"
#include "LittleEndian.h"
#include "PictureSize.h"
#include "RecordFileScan.h"
#include "SafeFileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <algorithm>
#include <limits>

namespace {

constexpr qint64 FirstAreaSize = 209715200;     // covered by data file 00
constexpr qint64 DataFileSize = 2147483648;     // each further data file

QString cleanRoot(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

void sortBanks(QVector<BankEntry> &banks)
{
    std::stable_sort(banks.begin(), banks.end(),
                     [](const BankEntry &a, const BankEntry &b) { return a.sortKey < b.sortKey; });
}

void setTablesFromHeader(QVector<int> &widths, QVector<int> &heights, const BankHeader &h,
                         int channels, bool archive)
{
    for (int c = 0; c < channels; ++c) {
        const QSize size = resolutionOfCode(h.resolutionCode(c), archive);
        widths[c] = size.width();
        heights[c] = size.height();
    }
}

} // namespace

Reader::Reader() : mf2Keys(defaultMf2Keys()) {}

void Reader::setPasswordPrompt(PasswordPrompt p)
{
    QMutexLocker locker(&lock);
    prompt = std::move(p);
}

PasswordPrompt Reader::passwordPrompt() const
{
    QMutexLocker locker(&lock);
    return prompt;
}

void Reader::setMf2Keys(const Mf2Keys &keys)
{
    QMutexLocker locker(&lock);
    mf2Keys = keys;
}

bool Reader::unlock(PasswordKind kind, const QString &root, const QByteArray &stored, int length)
{
    const QByteArray key = QByteArray::number(int(kind)) + '\0' + root.toUtf8() + '\0'
        + stored.left(length);
    if (unlocked.contains(key))
        return true;
    if (!prompt || !prompt(kind, stored.left(length), length)) {
        refused = true;
        return false;
    }
    unlocked.insert(key);
    return true;
}

int Reader::openIndexFile(const QString &root)
{
    QMutexLocker locker(&lock);
    refused = false;
    cat = Catalogue();
    const QString dir = cleanRoot(root);
    QString indexPath = dir + QStringLiteral("/index.ibx");
    if (!QFileInfo(indexPath).isFile())
        indexPath = dir + QStringLiteral("/index.dat");
    QFile file(indexPath);
    if (!QFileInfo(indexPath).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return -1;
    char head[IndexHeadSize];
    if (!readExactly(file, 0, head, IndexHeadSize))
        return -1;
    // A card without a whole settings block has none: it reads as zeros.
    QByteArray block(SetupBlockSize, '\0');
    const bool blockComplete = readExactly(file, SetupBlockOffset, block.data(), SetupBlockSize);
    if (!blockComplete)
        block.fill('\0');
    if (cardPasswordInForce(block) && !unlock(PasswordKind::Card, dir, block.mid(20, 8), 8))
        return -1;
    Catalogue next;
    next.source.kind = SourceKind::IndexCard;
    next.source.root = dir;
    next.source.indexPath = indexPath;
    next.setupBlock = block;
    next.setupBlockComplete = blockComplete;
    next.areaSize = le::i64(head + 20);
    next.headChannels = qBound(1, int(le::u8(head + 28)), 8);
    next.bankSize = le::u32(head + 84);
    cat = next;
    return 0;
}

QStringList Reader::dataFiles(const QString &root, qint64 areaSize, bool *missing) const
{
    QStringList paths;
    // A damaged head can hold any 64 bits: a size this far below zero would
    // overflow the subtraction, and no card has it.
    if (areaSize < std::numeric_limits<qint64>::min() + FirstAreaSize) {
        qWarning("index head of %s: area size %lld is refused", qPrintable(root), static_cast<long long>(areaSize));
        *missing = true;
        return paths;
    }
    // Truncated toward zero: any area below the first file's size still
    // needs data file 00.
    const qint64 last = (areaSize - FirstAreaSize) / DataFileSize;
    QString extension = QStringLiteral("ibx");
    *missing = false;
    for (qint64 n = 0; n <= last; ++n) {
        const QString stem = root + QStringLiteral("/%1.").arg(n, 2, 10, QLatin1Char('0'));
        if (!QFileInfo(stem + extension).isFile())
            extension = QStringLiteral("dat");
        if (!QFileInfo(stem + extension).isFile()) {
            *missing = true;
            return {};
        }
        paths.append(stem + extension);
    }
    return paths;
}

int Reader::loadBanks(const QString &root)
{
    QMutexLocker locker(&lock);
    if (cat.source.kind != SourceKind::IndexCard || cat.source.root != cleanRoot(root)
        || cat.bankSize < BankHeader::MinBankSize)
        return -1;
    bool missing = false;
    const QStringList paths = dataFiles(cat.source.root, cat.areaSize, &missing);
    if (missing)
        return -1;
    BankWalk walk;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            continue;
        walkBanks(file, path, 0, file.size() / cat.bankSize, cat.bankSize, false, &walk);
    }
    cat.banks = walk.entries;
    cat.exportBanks.clear();
    cat.widths.fill(0);
    cat.heights.fill(0);
    cat.model.clear();
    if (walk.anyValid) {
        setTablesFromHeader(cat.widths, cat.heights, walk.lastValid, cat.headChannels, false);
        cat.model = walk.lastValid.modelCode();
    }
    sortBanks(cat.banks);
    return cat.banks.size();
}

int Reader::finishRecordScan(RecordFileScan &scan, Catalogue &next)
{
    if (!scan.records().isEmpty()) {
        const FileTrailer &first = scan.records().first().trailer;
        for (int c = 0; c < qMin(first.channelCount(), int(FileTrailer::MaxChannels)); ++c) {
            // A size no camera records (a damaged trailer) leaves the channel
            // to the default pane.
            if (!PictureSize::isPlayable(first.width(c), first.height(c))) {
                qCWarning(lcReader, "[%s::%d]%s: channel %d claims %ux%u; the default pane is used", "finishRecordScan", __LINE__,
                         qPrintable(scan.records().first().path), c, first.width(c), first.height(c));
                continue;
            }
            next.widths[c] = int(first.width(c));
            next.heights[c] = int(first.height(c));
        }
    }
    scan.sortBySequence();
    QVector<QByteArray> refusedPasswords;
    for (const QByteArray &password : scan.mf2Passwords()) {
        if (password.isEmpty() || refusedPasswords.contains(password))
            continue;
        if (!unlock(PasswordKind::Mf2, next.source.root, password, 8))
            refusedPasswords.append(password);
    }
    scan.removeLocked(refusedPasswords);
    next.files = scan.records();
    next.largestChannels = scan.largestChannelCount();
    return next.files.size();
}

int Reader::scanCard(const QString &root)
{
    QMutexLocker locker(&lock);
    refused = false;
    cat = Catalogue();
    const QString dir = cleanRoot(root);
    const QString recordDir = dir + QStringLiteral("/record");
    if (!QFileInfo(recordDir).isDir())
        return -1;
    RecordFileScan scan(mf2Keys);
    scan.scanFolder(recordDir);
    if (scan.records().isEmpty())
        return -1;
    Catalogue next;
    next.source.kind = SourceKind::RecordCard;
    next.source.root = dir;
    next.source.settingsPath = dir + QStringLiteral("/Config/ZidavOva.cfg");
    const int count = finishRecordScan(scan, next);
    if (count > 0)
        cat = next;
    return count;
}

int Reader::scanFolder(const QString &folder)
{
    QMutexLocker locker(&lock);
    refused = false;
    if (!QFileInfo(folder).isDir())
        return 0;
    RecordFileScan scan(mf2Keys);
    scan.scanFolder(folder);
    Catalogue next;
    next.source.kind = SourceKind::Folder;
    next.source.root = cleanRoot(folder);
    const int count = finishRecordScan(scan, next);
    if (count > 0)
        cat = next;
    return count;
}

int Reader::openSingleFile(const QString &path)
{
    QMutexLocker locker(&lock);
    refused = false;
    RecordFileScan scan(mf2Keys);
    scan.addSingleFile(path);
    Catalogue next;
    next.source.kind = SourceKind::SingleFile;
    next.source.root = cleanRoot(path);
    const int count = finishRecordScan(scan, next);
    if (count > 0)
        cat = next;
    return count;
}

int Reader::openIndexFormatFile(const QString &path)
{
    QMutexLocker locker(&lock);
    refused = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return -1;
    ArchiveHead head;
    if (head.read(file, file.size()) != 0)
        return -1;
    const QString archive = cleanRoot(path);
    if (head.passwordSet && !unlock(PasswordKind::Archive, archive, head.password, ArchiveHead::PasswordLength))
        return -1;
    BankWalk walk;
    walkBanks(file, archive, head.firstBank, head.bankCount, head.bankSize, true, &walk);
    Catalogue next;
    next.source.kind = SourceKind::Archive;
    next.source.root = archive;
    next.headChannels = head.channels;
    next.bankSize = head.bankSize;
    next.banks = walk.entries;
    if (walk.anyValid) {
        setTablesFromHeader(next.widths, next.heights, walk.lastValid, next.headChannels, true);
        next.model = walk.lastValid.modelCode();
    }
    sortBanks(next.banks);
    cat = next;
    return cat.banks.size();
}

int Reader::locateSettings(const QString &root)
{
    QMutexLocker locker(&lock);
    const QString dir = cleanRoot(root);
    const QString path = dir + QStringLiteral("/Config/ZidavOva.cfg");
    if (!QFileInfo(path).isFile())
        return -1;
    if (cat.source.kind == SourceKind::RecordCard && cat.source.root == dir)
        cat.source.settingsPath = path;
    return 0;
}

int Reader::selectRange(int store, qint64 from, qint64 to)
{
    QMutexLocker locker(&lock);
    if (store == 1) {
        cat.exportBanks.clear();
        for (const BankEntry &e : qAsConst(cat.banks)) {
            if (e.start <= to && e.end >= from)
                cat.exportBanks.append(e);
        }
        return cat.exportBanks.size();
    }
    cat.exportFiles.clear();
    if (store != 2)
        return 0;
    for (const FileRecord &r : qAsConst(cat.files)) {
        if (!r.start.isValid())
            continue;
        const qint64 start = r.start.toSecsSinceEpoch();
        if (start <= to && start + qint64(r.trailer.duration()) >= from)
            cat.exportFiles.append(r);
    }
    return cat.exportFiles.size();
}

int Reader::writeSetupBlock(const QByteArray &block, QString *error)
{
    QMutexLocker locker(&lock);
    if (cat.source.kind != SourceKind::IndexCard || block.size() != SetupBlockSize) {
        if (error)
            *error = QStringLiteral("no index card is open");
        return -1;
    }
    if (!cat.setupBlockComplete) {
        if (error)
            *error = QStringLiteral("%1 holds no whole setup block").arg(cat.source.indexPath);
        return -1;
    }
    // A file too short to hold the block is not grown: it is not a card's index.
    if (!SafeFileWrite::patchFile(cat.source.indexPath, SetupBlockOffset, block, error))
        return -1;
    cat.setupBlock = block;
    return 0;
}

int Reader::writeSettingsFile(const QByteArray &bytes, QString *error)
{
    QMutexLocker locker(&lock);
    if (cat.source.kind != SourceKind::RecordCard || cat.source.settingsPath.isEmpty()) {
        if (error)
            *error = QStringLiteral("no record-file card is open");
        return -1;
    }
    const QString path = cat.source.settingsPath;
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
        if (error)
            *error = QStringLiteral("%1 is missing").arg(QFileInfo(path).absolutePath());
        return -1;
    }
    if (!SafeFileWrite::replaceFile(path, bytes, error))
        return -1;
    if (!SafeFileWrite::replaceFile(path + QStringLiteral(".mod"), QByteArrayLiteral("config::1 "), error))
        return -1;
    return 0;
}

bool Reader::setupBlockComplete() const
{
    QMutexLocker locker(&lock);
    return cat.source.kind == SourceKind::IndexCard && cat.setupBlockComplete;
}

void Reader::clear()
{
    QMutexLocker locker(&lock);
    cat = Catalogue();
}

void Reader::setMode(int mode)
{
    QMutexLocker locker(&lock);
    storageMode = mode;
}

int Reader::mode() const
{
    QMutexLocker locker(&lock);
    return storageMode;
}

OpenSource Reader::source() const
{
    QMutexLocker locker(&lock);
    return cat.source;
}

QString Reader::settingsFilePath() const
{
    QMutexLocker locker(&lock);
    return cat.source.kind == SourceKind::RecordCard ? cat.source.settingsPath : QString();
}

bool Reader::passwordRefused() const
{
    QMutexLocker locker(&lock);
    return refused;
}

QVector<BankEntry> Reader::banks() const
{
    QMutexLocker locker(&lock);
    return cat.banks;
}

QVector<FileRecord> Reader::files() const
{
    QMutexLocker locker(&lock);
    return cat.files;
}

QVector<BankEntry> Reader::exportBanks() const
{
    QMutexLocker locker(&lock);
    return cat.exportBanks;
}

QVector<FileRecord> Reader::exportFiles() const
{
    QMutexLocker locker(&lock);
    return cat.exportFiles;
}

int Reader::largestChannelCount() const
{
    QMutexLocker locker(&lock);
    return cat.largestChannels;
}

int Reader::headChannelCount() const
{
    QMutexLocker locker(&lock);
    return cat.headChannels;
}

quint32 Reader::bankSize() const
{
    QMutexLocker locker(&lock);
    return cat.bankSize;
}

QByteArray Reader::modelCode() const
{
    QMutexLocker locker(&lock);
    return cat.model;
}

QByteArray Reader::setupBlock() const
{
    QMutexLocker locker(&lock);
    return cat.setupBlock;
}

QVector<int> Reader::widths() const
{
    QMutexLocker locker(&lock);
    return cat.widths;
}

QVector<int> Reader::heights() const
{
    QMutexLocker locker(&lock);
    return cat.heights;
}

int Reader::loadBankForPlayback(int index, const BankEntry &entry, bool keepBuffer, bool backward, quint64 limit,
                                const LoadCancel &cancel)
{
    QMutexLocker locker(&lock);
    LoadedRecording::BankLoad load;
    load.catalogueIndex = index;
    load.keepBuffer = keepBuffer;
    load.backward = backward;
    load.limit = limit;
    load.channelCount = cat.headChannels > 0 ? cat.headChannels : int(entry.channels);
    load.cancel = cancel;
    return playback.loadBank(entry, load);
}

qint64 Reader::loadFileForPlayback(int index, const FileRecord &record, bool keepBuffer, const LoadCancel &cancel)
{
    QMutexLocker locker(&lock);
    return playback.loadFile(index, record, keepBuffer, cancel);
}

QString Reader::playbackLoadError() const
{
    QMutexLocker locker(&lock);
    return playback.loadError();
}

quint32 Reader::playbackVideoChannels() const
{
    QMutexLocker locker(&lock);
    return playback.videoChannels();
}

void Reader::buildPlaybackBackwardIndex()
{
    QMutexLocker locker(&lock);
    if (playback.isRecordFile())
        playback.buildBackwardIndex();
}

int Reader::loadBankForExport(const BankEntry &entry, bool keepBuffer)
{
    QMutexLocker locker(&lock);
    LoadedRecording::BankLoad load;
    load.keepBuffer = keepBuffer;
    load.gsensorList = false;
    return exporting.loadBank(entry, load);
}

qint64 Reader::loadFileForExport(int index, const FileRecord &record, bool keepBuffer)
{
    QMutexLocker locker(&lock);
    return exporting.loadFile(index, record, keepBuffer);
}

int Reader::nextFrame(FrameIndexEntry &entry, uint8_t *out, size_t capacity)
{
    QMutexLocker locker(&lock);
    return playback.next(ParameterSets::Reading::Forward, entry, out, capacity);
}

int Reader::nextFrameBackward(uint8_t *out, size_t capacity, FrameIndexEntry &entry, bool *keyFrame)
{
    QMutexLocker locker(&lock);
    const int written = playback.next(ParameterSets::Reading::Backward, entry, out, capacity);
    if (keyFrame)
        *keyFrame = written > 0 && entry.gop == 0;
    return written;
}

int Reader::nextFrameExport(uint8_t *out, size_t capacity, FrameIndexEntry &entry)
{
    QMutexLocker locker(&lock);
    return exporting.next(ParameterSets::Reading::Export, entry, out, capacity);
}

void Reader::seek(int mode, qint64 seconds)
{
    seekMs(mode, seconds * 1000);
}

void Reader::seekMs(int mode, qint64 mediaMs)
{
    QMutexLocker locker(&lock);
    if (mode == 0 || mode == 3)
        playback.seek(false, mediaMs);
    else if (mode == 5 || mode == 8)
        playback.seek(true, mediaMs);
}

int Reader::videoHeaderForChannel(int kind, int channel, uint8_t *out, size_t capacity) const
{
    QMutexLocker locker(&lock);
    return exporting.videoHeader(kind, channel, out, capacity);
}

int Reader::h265HeaderForSize(int width, int height, uint8_t *out, size_t capacity) const
{
    QMutexLocker locker(&lock);
    return exporting.h265Header(width, height, out, capacity);
}

qint64 Reader::playbackPosition() const
{
    QMutexLocker locker(&lock);
    return qint64(playback.position());
}

std::vector<GSensorSample> Reader::gsensorSamples() const
{
    QMutexLocker locker(&lock);
    return playback.gsensor();
}

TelemetrySnapshot Reader::telemetrySnapshot() const
{
    QMutexLocker locker(&lock);
    return buildTelemetrySnapshot(playback.forward(), playback.buffer().data(), playback.buffer().used(),
                                  playback.isRecordFile(), playback.startTime(), playback.duration(),
                                  playback.catalogueIndex());
}

qint64 Reader::startTime() const
{
    QMutexLocker locker(&lock);
    return playback.startTime();
}

qint64 Reader::endTime() const
{
    QMutexLocker locker(&lock);
    return playback.endTime();
}

quint32 Reader::duration() const
{
    QMutexLocker locker(&lock);
    return playback.duration();
}

int Reader::audioRate() const
{
    QMutexLocker locker(&lock);
    return playback.audio().sampleRate;
}

AudioDescription Reader::audioDescription() const
{
    QMutexLocker locker(&lock);
    return playback.audio();
}

std::vector<VideoTrack> Reader::videoTracks() const
{
    QMutexLocker locker(&lock);
    return playback.videoTracks();
}

int Reader::loadedIndex() const
{
    QMutexLocker locker(&lock);
    return playback.catalogueIndex();
}

AudioDescription Reader::exportAudioDescription() const
{
    QMutexLocker locker(&lock);
    return exporting.audio();
}

std::vector<VideoTrack> Reader::exportVideoTracks() const
{
    QMutexLocker locker(&lock);
    return exporting.videoTracks();
}

qint64 Reader::exportStartTime() const
{
    QMutexLocker locker(&lock);
    return exporting.startTime();
}

qint64 Reader::exportEndTime() const
{
    QMutexLocker locker(&lock);
    return exporting.endTime();
}
