#pragma once
// What an exported channel's stream headers are made of, read from the
// recording itself: the video parameter sets and picture size from Annex-B
// frames, and the sound's description from its first ADTS header.
#include <QByteArray>
#include <QSize>

#include <cstddef>
#include <cstdint>

namespace StreamConfig {

// The parameter-set NAL units (H.264: SPS and PPS; HEVC: VPS, SPS and PPS)
// of an Annex-B frame, each with a four-byte start code, in frame order.
// Empty when the frame carries none. Reads nothing outside [data, data+size).
QByteArray parameterSets(const uint8_t *data, size_t size, bool hevc);

// True when the parameter sets hold at least an SPS and a PPS (and a VPS for
// HEVC): enough to describe the stream.
bool complete(const QByteArray &parameterSets, bool hevc);

// The displayed picture size that the SPS of an Annex-B stream declares
// (cropping applied); an empty size when it cannot be read.
QSize pictureSize(const QByteArray &annexB, bool hevc);

// An ADTS frame header.
struct Adts {
    int headerLength = 0; // 7, or 9 with a CRC
    int frameLength = 0;  // header included
    int objectType = 0;   // 1 Main, 2 LC, 3 SSR, 4 LTP
    int sampleRate = 0;
    int channels = 0;     // 1-7 (8 for configuration 7); 0 when the stream carries its own layout
    int frequencyIndex = 0;
    int channelConfig = 0;
};

// Reads the header at data; false unless it has the sync word, layer 0, a
// known rate and a frame length of at least its own header.
bool parseAdts(const uint8_t *data, size_t size, Adts *out);

// The two-byte AudioSpecificConfig that describes the same stream.
QByteArray audioSpecificConfig(const Adts &adts);

// The record files of MP4 recordings hand out each AAC frame as its ADTS
// header and then its payload. This puts them together again: a packet that
// is exactly a header is held; the next packet completes it when the
// header's frame length matches, and anything else passes through as it is.
class AdtsJoin {
public:
    static constexpr int MaxFrame = 8191; // the largest frame length ADTS can state

    // Takes one audio packet; returns the bytes to write (size 0: nothing
    // yet). The result stays valid until the next call.
    QByteArray feed(const uint8_t *data, int size);
    void reset() { held_ = 0; }
    bool holding() const { return held_ > 0; }

private:
    uint8_t frame_[MaxFrame];
    int held_ = 0;
    int frameLength_ = 0;
};

} // namespace StreamConfig
