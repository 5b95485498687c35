#pragma once
// The MP4 half of a record-file load: the media library's demuxer delivers
// every packet in elementary-stream form, appended here to the frame buffer
// and sorted into per-track lists for the merge.
#include "FrameBuffer.h"
#include "LoadCancel.h"
#include "RecordTracks.h"

#include <QString>

#include <functional>

class Mp4Loader
{
public:
    // Opens path, then asks allocate() for the buffer (so nothing is
    // allocated for a file that does not open) and reads every packet.
    // Returns the bytes appended to the buffer (0 when the file held none),
    // or -1 when the file does not open or the buffer cannot be had. A packet
    // that does not fit the buffer ends the reading; what came before stays.
    // cancel is asked between packets: true gives LoadCancelled.
    static int64_t read(const QString &path, FrameBuffer &buffer, const std::function<bool()> &allocate,
                        RecordTracks &tracks, RecordPackets &packets, const LoadCancel &cancel = {});
};
