#include "LoadedRecording.h"

#include "FileAccess.h"
#include "LogCategories.h"
#include "Mf2Reader.h"
#include "Mp4Loader.h"
#include "RecordingMerge.h"

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <cstring>

void LoadedRecording::reset()
{
    forward_.clear();
    backward_.clear();
    position_ = 0;
    recordFile_ = false;
    tracks_ = RecordTracks();
    channelConfigs_.clear();
    gsensor_.clear();
    start_ = end_ = 0;
    duration_ = 0;
    catalogueIndex_ = -1;
    error_.clear();
}

namespace {

// A bank is read in pieces so that a cancel is seen between them.
constexpr qint64 BankReadPiece = 1 << 20;

// Reads len bytes at offset in pieces, asking cancel between them: the bytes
// read (short at the end of the file), or LoadCancelled.
qint64 readPieces(QIODevice &file, qint64 offset, char *to, qint64 len, const LoadCancel &cancel)
{
    qint64 done = 0;
    while (done < len) {
        if (cancel && cancel())
            return LoadCancelled;
        const qint64 got = readAt(file, offset + done, to + done, qMin(BankReadPiece, len - done));
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

} // namespace

FrameIndex::FrameSource LoadedRecording::source() const
{
    FrameIndex::FrameSource s;
    s.buffer = buffer_.data();
    s.bufferSize = buffer_.used();
    if (recordFile_) {
        s.trackConfigs = channelConfigs_.data();
        s.trackConfigCount = channelConfigs_.size();
    }
    return s;
}

int LoadedRecording::loadBank(const BankEntry &entry, const BankLoad &load)
{
    reset();
    catalogueIndex_ = load.catalogueIndex;
    start_ = entry.start;
    end_ = entry.end;
    duration_ = uint32_t(qBound<qint64>(0, entry.end - entry.start, UINT32_MAX));
    QFile file(entry.path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCWarning(lcReader, "[%s::%d]cannot open %s", "LoadedRecording::loadBank", __LINE__, qPrintable(entry.path));
        error_ = QStringLiteral("its data file cannot be opened");
        return -1;
    }
    const uint64_t bankSize = entry.bankSize;
    if (!load.keepBuffer || buffer_.capacity() < bankSize) {
        if (!buffer_.allocate(bankSize)) {
            qCWarning(lcReader, "[%s::%d]no memory for a bank of %llu bytes", "LoadedRecording::loadBank", __LINE__,
                     static_cast<unsigned long long>(bankSize));
            error_ = QStringLiteral("there is no memory for its bank");
            return -1;
        }
    }
    buffer_.clear();
    // A bank cut short by the end of its file is walked as far as it goes.
    const qint64 got = bankSize ? readPieces(file, entry.offset, reinterpret_cast<char *>(buffer_.data()),
                                             qint64(bankSize), load.cancel)
                                : 0;
    if (got == LoadCancelled) {
        buffer_.clear();
        return int(LoadCancelled);
    }
    if (got <= 0) {
        qCWarning(lcReader, "[%s::%d]%s holds no bank at %lld", "LoadedRecording::loadBank", __LINE__, qPrintable(entry.path),
                 static_cast<long long>(entry.offset));
        error_ = QStringLiteral("its data file holds no bank there");
        return -1;
    }
    if (uint64_t(got) < bankSize)
        qCWarning(lcReader, "[%s::%d]bank at %lld of %s is cut short at %lld bytes", "LoadedRecording::loadBank", __LINE__,
                 static_cast<long long>(entry.offset), qPrintable(entry.path), static_cast<long long>(got));
    buffer_.setUsed(uint64_t(got));

    FrameIndex::BankWalkOptions options;
    options.catalogueIndex = uint32_t(load.catalogueIndex);
    options.limit = load.limit;
    options.backwardLoad = load.backward;
    const FrameIndex::BankWalkResult walk = FrameIndex::walkBank(
        buffer_.data(), buffer_.used(), entry.dataEnd, options, forward_, load.gsensorList ? &gsensor_ : nullptr);
    if (!walk.complete)
        qCWarning(lcReader, "[%s::%d]bank at %lld of %s: damaged entry at %llu ends the index", "LoadedRecording::loadBank",
                 __LINE__, static_cast<long long>(entry.offset), qPrintable(entry.path),
                 static_cast<unsigned long long>(walk.stopOffset));
    if (load.backward)
        backward_ = FrameIndex::buildBackward(forward_, load.channelCount);
    if (forward_.empty())
        error_ = QStringLiteral("it holds no frames");
    return 0;
}

int64_t LoadedRecording::loadFile(int catalogueIndex, const FileRecord &record, bool keepBuffer,
                                  const LoadCancel &cancel)
{
    reset();
    recordFile_ = true;
    catalogueIndex_ = catalogueIndex;
    start_ = record.start.isValid() ? record.start.toSecsSinceEpoch() : 0;
    duration_ = record.trailer.duration();
    end_ = start_;
    auto allocate = [&] {
        if (keepBuffer && buffer_.capacity() >= FrameBuffer::RecordFileCapacity) {
            buffer_.clear();
            return true;
        }
        if (buffer_.allocate(FrameBuffer::RecordFileCapacity))
            return true;
        qCWarning(lcReader, "[%s::%d]no memory for the frame buffer", "LoadedRecording::loadFile", __LINE__);
        error_ = QStringLiteral("there is no memory for its frames");
        return false;
    };

    RecordPackets packets;
    int64_t bytes = -1;
    MergeOptions merge;
    merge.baseTimeUs = uint64_t(std::max<int64_t>(start_, 0)) * 1000000;
    merge.catalogueIndex = uint32_t(catalogueIndex);
    if (record.isMF2) {
        QFile file(record.path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCWarning(lcReader, "[%s::%d]cannot open %s", "LoadedRecording::loadFile", __LINE__, qPrintable(record.path));
            error_ = QStringLiteral("the file cannot be opened");
            return -1;
        }
        if (!allocate())
            return -1;
        bytes = Mf2Reader::read(file, buffer_, tracks_, packets, cancel);
        merge.container = TelemetryContainer::Mf2;
    } else {
        bytes = Mp4Loader::read(record.path, buffer_, allocate, tracks_, packets, cancel);
        merge.container = TelemetryContainer::Mp4;
        // The trailer's duration plus two seconds: what follows is not the recording's.
        merge.cutMs = int64_t(duration_) * 1000 + 2000;
    }
    if (bytes < 0) {
        tracks_ = RecordTracks();
        if (bytes == LoadCancelled) {
            buffer_.clear();
            return LoadCancelled;
        }
        if (error_.isEmpty())
            error_ = record.isMF2 ? QStringLiteral("it is not a readable MF2 recording")
                                  : QStringLiteral("it is not a readable MP4 recording");
        return -1;
    }
    for (const VideoTrack &v : tracks_.video) {
        merge.resolutionCodes.push_back(v.resolutionCode);
        channelConfigs_.push_back({reinterpret_cast<const uint8_t *>(v.config.constData()), size_t(v.config.size())});
    }
    const MergeResult merged = RecordingMerge::run(packets, merge, buffer_, forward_, gsensor_);
    // The recording spans start plus the trailer's duration, as the catalogue
    // lists it; the last packet's whole second falls up to a second short.
    if (duration_ > 0)
        end_ = start_ + duration_;
    else if (!forward_.empty())
        end_ = merged.endSeconds;
    else
        error_ = QStringLiteral("it holds no frames");
    return bytes;
}

int LoadedRecording::next(ParameterSets::Reading reading, FrameIndexEntry &entry, uint8_t *out, size_t capacity)
{
    const auto &index = reading == ParameterSets::Reading::Backward ? backward_ : forward_;
    return FrameIndex::nextFrame(index, position_, source(), reading, entry, out, capacity);
}

uint32_t LoadedRecording::videoChannels() const
{
    uint32_t mask = 0;
    for (const FrameIndexEntry &e : forward_)
        if (e.marker == FrameIndexEntry::Video && e.channel < 32)
            mask |= 1u << e.channel;
    return mask;
}

void LoadedRecording::buildBackwardIndex()
{
    backward_ = FrameIndex::buildBackward(forward_, int(tracks_.video.size()));
    position_ = 0;
}

void LoadedRecording::seek(bool backwardIndex, int64_t mediaMs)
{
    if (backwardIndex)
        FrameIndex::seekBackwardMs(backward_, mediaMs, position_);
    else
        FrameIndex::seekForwardMs(forward_, mediaMs, position_);
}

namespace {

int copyOut(const QByteArray &bytes, uint8_t *out, size_t capacity)
{
    if (bytes.isEmpty() || !out || size_t(bytes.size()) > capacity)
        return 0;
    memcpy(out, bytes.constData(), size_t(bytes.size()));
    return bytes.size();
}

} // namespace

int LoadedRecording::videoHeader(int kind, int channel, uint8_t *out, size_t capacity) const
{
    if (!recordFile_)
        return kind == 0 ? FrameIndex::videoHeaderForChannel(forward_, channel, out, capacity) : 0;
    if (kind != 0)
        return copyOut(tracks_.audio.config, out, capacity);
    if (channel < 0 || size_t(channel) >= tracks_.video.size())
        return 0;
    const VideoTrack &v = tracks_.video[size_t(channel)];
    if (!v.config.isEmpty())
        return copyOut(v.config, out, capacity);
    return FrameIndex::h265HeaderForSize(int(v.width), int(v.height), out, capacity);
}

int LoadedRecording::h265Header(int width, int height, uint8_t *out, size_t capacity) const
{
    // A fixed set of another encoder would not decode this recording's
    // frames, so the loaded channel's own parameter sets come first.
    if (recordFile_) {
        for (const VideoTrack &v : tracks_.video)
            if (int(v.width) == width && int(v.height) == height && v.codec == VideoCodec::Hevc && !v.config.isEmpty())
                return copyOut(v.config, out, capacity);
    }
    return FrameIndex::h265HeaderForSize(width, height, out, capacity);
}
