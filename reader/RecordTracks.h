#pragma once
// What a record-file load learns about its tracks, and the packets it read,
// sorted into one list per track before the merge.
#include <QByteArray>

#include <cstdint>
#include <vector>

enum class VideoCodec { H264, Hevc };

// One accepted video track; its position in RecordTracks::video is its
// channel (the order among the accepted video tracks, 0-7).
struct VideoTrack {
    uint32_t ordinal = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    VideoCodec codec = VideoCodec::Hevc;
    uint8_t resolutionCode = 0;
    QByteArray config; // Annex-B parameter sets put in front of the channel's frames
};

// One entry of the track configuration table, by position in the file's
// track list.
struct TrackConfig {
    uint32_t trackNumber = 0;
    uint32_t mediaType = 0; // 1 for audio
    QByteArray bytes;
};

// Sample rate, channel count and AudioSpecificConfig of the recording's
// sound; channels 0 when it has none.
struct AudioDescription {
    static constexpr int DefaultRate = 48000;
    // Index stores record raw PCM, signed 16-bit mono, at this rate.
    static constexpr int IndexStorePcmRate = 8192;
    int sampleRate = DefaultRate;
    int channels = 0;
    QByteArray config;
};

struct RecordTracks {
    static constexpr int MaxVideoTracks = 8;
    std::vector<VideoTrack> video;
    std::vector<TrackConfig> configs;
    AudioDescription audio;
};

enum class TrackKind : uint8_t { Video, Audio, Data };

// One packet of a record file: its payload sits in the frame buffer.
struct RecordPacket {
    int64_t timeMs = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint8_t track = 0; // index within its kind (video: the channel)
    bool key = false;
};

// The per-track packet lists: slots 0 .. video-1 hold video tracks, then the
// audio tracks, then the data tracks.
class RecordPackets
{
public:
    void reset(int videoTracks, int audioTracks, int dataTracks);
    // The list of a track, or null when the track index is not below the
    // number of tracks of its kind.
    std::vector<RecordPacket> *list(TrackKind kind, int track);
    size_t slotCount() const { return slots_.size(); }
    const std::vector<RecordPacket> &slot(size_t s) const { return slots_[s]; }
    TrackKind kindOfSlot(size_t s) const;
    int videoTracks() const { return video_; }
    size_t packetCount() const;

private:
    int video_ = 0, audio_ = 0, data_ = 0;
    std::vector<std::vector<RecordPacket>> slots_;
};

// H.264 or HEVC from the first NAL unit of Annex-B parameter sets (HEVC
// when it cannot tell).
VideoCodec codecOfParameterSets(const QByteArray &annexB);

// The resolution code of an MP4 video track's picture size.
uint8_t resolutionCodeOfSize(uint32_t width, uint32_t height);

// Sample rate and channels from an AAC AudioSpecificConfig or, failing
// that, from an ADTS header; false when neither holds them.
bool audioFromSpecificConfig(const QByteArray &asc, AudioDescription &audio);
bool audioFromAdtsHeader(const uint8_t *data, size_t size, AudioDescription &audio);
