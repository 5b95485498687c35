#include "StreamConfig.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>
#include <vector>

namespace StreamConfig {

namespace {

// Start (after the start code) and end of each NAL unit of an Annex-B run.
struct Nal {
    size_t begin, end;
};

std::vector<Nal> nalUnits(const uint8_t *data, size_t size)
{
    std::vector<Nal> units;
    size_t i = 0, start = SIZE_MAX;
    while (i + 2 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && data[end - 1] == 0) // zeros before a start code belong to it
                    --end;
                units.push_back({start, end});
            }
            i += 3;
            start = i;
            continue;
        }
        ++i;
    }
    if (start != SIZE_MAX && start < size)
        units.push_back({start, size});
    return units;
}

int nalType(uint8_t header, bool hevc)
{
    return hevc ? (header >> 1) & 0x3F : header & 0x1F;
}

bool isParameterSet(int type, bool hevc)
{
    return hevc ? type >= 32 && type <= 34 : type == 7 || type == 8;
}

bool isSlice(int type, bool hevc)
{
    return hevc ? type <= 31 : type >= 1 && type <= 5;
}

} // namespace

QByteArray parameterSets(const uint8_t *data, size_t size, bool hevc)
{
    QByteArray sets;
    if (!data)
        return sets;
    for (const Nal &n : nalUnits(data, size)) {
        if (n.end <= n.begin)
            continue;
        const int type = nalType(data[n.begin], hevc);
        if (isSlice(type, hevc))
            break; // a frame's sets come before its first slice
        if (!isParameterSet(type, hevc))
            continue;
        sets.append("\0\0\0\1", 4);
        sets.append(reinterpret_cast<const char *>(data + n.begin), int(n.end - n.begin));
    }
    return sets;
}

bool complete(const QByteArray &sets, bool hevc)
{
    bool seen[64] = {};
    const auto *bytes = reinterpret_cast<const uint8_t *>(sets.constData());
    for (const Nal &n : nalUnits(bytes, size_t(sets.size())))
        if (n.end > n.begin)
            seen[nalType(bytes[n.begin], hevc)] = true;
    return hevc ? seen[32] && seen[33] && seen[34] : seen[7] && seen[8];
}

QSize pictureSize(const QByteArray &annexB, bool hevc)
{
    const AVCodecID id = hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    AVCodecParserContext *parser = av_parser_init(id);
    AVCodecContext *codec = avcodec_alloc_context3(nullptr);
    QSize size;
    if (parser && codec && !annexB.isEmpty()) {
        parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        // The parser may read a little past the end: it gets zero padding.
        std::vector<uint8_t> padded(size_t(annexB.size()) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        memcpy(padded.data(), annexB.constData(), size_t(annexB.size()));
        const uint8_t *at = padded.data();
        int left = annexB.size();
        while (left > 0) {
            uint8_t *out = nullptr;
            int outSize = 0;
            const int used = av_parser_parse2(parser, codec, &out, &outSize, at, left, AV_NOPTS_VALUE,
                                              AV_NOPTS_VALUE, 0);
            if (used <= 0)
                break;
            at += used;
            left -= used;
        }
        if (parser->width > 0 && parser->height > 0)
            size = QSize(parser->width, parser->height);
    }
    av_parser_close(parser);
    avcodec_free_context(&codec);
    return size;
}

bool parseAdts(const uint8_t *p, size_t size, Adts *out)
{
    static const int rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                  22050, 16000, 12000, 11025, 8000,  7350};
    if (!p || size < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0)
        return false;
    Adts a;
    a.headerLength = (p[1] & 0x01) ? 7 : 9;
    a.objectType = ((p[2] >> 6) & 0x03) + 1;
    a.frequencyIndex = (p[2] >> 2) & 0x0F;
    if (a.frequencyIndex >= 13)
        return false;
    a.sampleRate = rates[a.frequencyIndex];
    a.channelConfig = ((p[2] & 0x01) << 2) | (p[3] >> 6);
    a.channels = a.channelConfig == 7 ? 8 : a.channelConfig;
    a.frameLength = ((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5);
    if (a.frameLength < a.headerLength)
        return false;
    *out = a;
    return true;
}

QByteArray audioSpecificConfig(const Adts &a)
{
    const uint16_t asc = uint16_t((a.objectType << 11) | (a.frequencyIndex << 7) | (a.channelConfig << 3));
    const char bytes[2] = {char(asc >> 8), char(asc & 0xFF)};
    return QByteArray(bytes, 2);
}

QByteArray AdtsJoin::feed(const uint8_t *data, int size)
{
    Adts header;
    // A packet that is a header and nothing more waits for its payload.
    if (size > 0 && parseAdts(data, size_t(size), &header) && size == header.headerLength) {
        memcpy(frame_, data, size_t(size));
        held_ = size;
        frameLength_ = header.frameLength;
        return QByteArray();
    }
    const int held = held_;
    held_ = 0;
    if (held > 0 && size > 0 && held + size == frameLength_ && frameLength_ <= MaxFrame) {
        memcpy(frame_ + held, data, size_t(size));
        return QByteArray::fromRawData(reinterpret_cast<const char *>(frame_), frameLength_);
    }
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), size);
}

} // namespace StreamConfig
