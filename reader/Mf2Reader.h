#pragma once
// Reader of the camera's own MF2 container: preamble, file header, track
// table and packets to the end of the file. Payloads go straight into the
// frame buffer; the packets are sorted into per-track lists for the merge.
#include "FrameBuffer.h"
#include "LoadCancel.h"
#include "RecordTracks.h"

#include <QIODevice>

class Mf2Reader
{
public:
    static constexpr int PreambleSize = 16;
    static constexpr int PlainHeaderSize = 52;
    static constexpr int LockedHeaderSize = 88;
    static constexpr int MaxTracks = 32;
    static constexpr int DescriptorSize = 4128;
    static constexpr int MaxVideoConfig = 4096;
    static constexpr int MaxAudioConfig = 256;
    static constexpr int PacketHeaderSize = 16;
    static constexpr int64_t AudioDelayMs = 1000;

    // Reads the device from its start. Returns the payload bytes appended to
    // buffer (0 when the file holds no packet), or -1 when the preamble,
    // header or track table are unreadable or out of bounds (tracks and
    // packets are then empty). Reading ends at a packet with an unknown
    // magic, a payload running past the end of the file, or a payload that
    // does not fit the buffer; everything read before it stays. cancel is
    // asked between packets: true gives LoadCancelled.
    static int64_t read(QIODevice &device, FrameBuffer &buffer, RecordTracks &tracks, RecordPackets &packets,
                        const LoadCancel &cancel = {});
};
