#include "RecordTracks.h"

namespace {

const int kAacRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

} // namespace

void RecordPackets::reset(int videoTracks, int audioTracks, int dataTracks)
{
    video_ = videoTracks;
    audio_ = audioTracks;
    data_ = dataTracks;
    slots_.assign(size_t(video_ + audio_ + data_), {});
}

std::vector<RecordPacket> *RecordPackets::list(TrackKind kind, int track)
{
    if (track < 0)
        return nullptr;
    switch (kind) {
    case TrackKind::Video:
        return track < video_ ? &slots_[size_t(track)] : nullptr;
    case TrackKind::Audio:
        return track < audio_ ? &slots_[size_t(video_ + track)] : nullptr;
    case TrackKind::Data:
        return track < data_ ? &slots_[size_t(video_ + audio_ + track)] : nullptr;
    }
    return nullptr;
}

TrackKind RecordPackets::kindOfSlot(size_t s) const
{
    if (s < size_t(video_))
        return TrackKind::Video;
    return s < size_t(video_ + audio_) ? TrackKind::Audio : TrackKind::Data;
}

size_t RecordPackets::packetCount() const
{
    size_t n = 0;
    for (const auto &s : slots_)
        n += s.size();
    return n;
}

VideoCodec codecOfParameterSets(const QByteArray &annexB)
{
    int i = 0;
    while (i < annexB.size() && annexB[i] == 0)
        ++i;
    if (i >= 2 && i + 1 < annexB.size() && annexB[i] == 1) {
        const uint8_t nal = uint8_t(annexB[i + 1]);
        const int h264Type = nal & 0x1f;
        if ((h264Type == 7 || h264Type == 8) && (nal & 0x80) == 0 && ((nal >> 1) & 0x3f) != 32)
            return VideoCodec::H264;
    }
    return VideoCodec::Hevc;
}

uint8_t resolutionCodeOfSize(uint32_t width, uint32_t height)
{
    if (width == 1920 && height == 1080)
        return 15;
    if (width == 1280 && height == 720)
        return 14;
    if (width == 2560 && height == 1440)
        return 16;
    if (width == 704 && height == 480)
        return 17;
    return 0;
}

bool audioFromSpecificConfig(const QByteArray &asc, AudioDescription &audio)
{
    if (asc.size() < 2)
        return false;
    const uint8_t b0 = uint8_t(asc[0]), b1 = uint8_t(asc[1]);
    const int objectType = b0 >> 3;
    const int freqIndex = ((b0 & 7) << 1) | (b1 >> 7);
    const int channels = (b1 >> 3) & 0xf;
    if (objectType == 31 || freqIndex >= 13 || channels == 0)
        return false;
    audio.sampleRate = kAacRates[freqIndex];
    audio.channels = channels == 7 ? 8 : channels;
    return true;
}

bool audioFromAdtsHeader(const uint8_t *data, size_t size, AudioDescription &audio)
{
    if (!data || size < 7 || data[0] != 0xFF || (data[1] & 0xF0) != 0xF0)
        return false;
    const int freqIndex = (data[2] >> 2) & 0xf;
    const int channels = ((data[2] & 1) << 2) | (data[3] >> 6);
    if (freqIndex >= 13 || channels == 0)
        return false;
    audio.sampleRate = kAacRates[freqIndex];
    audio.channels = channels == 7 ? 8 : channels;
    return true;
}
