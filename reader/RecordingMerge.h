#pragma once
// The merge of a record-file load: the per-track packet lists become one
// time-ordered frame index. Video waits per channel for its first key
// frame, telemetry packets are decoded into GPS and G-sensor records that
// are appended to the frame buffer with entries of their own.
#include "FrameBuffer.h"
#include "FrameIndex.h"
#include "RecordTracks.h"
#include "TelemetryRecords.h"

#include <vector>

struct MergeOptions {
    TelemetryContainer container = TelemetryContainer::Mp4;
    uint64_t baseTimeUs = 0;  // the recording's start, µs since 1970
    int64_t cutMs = -1;       // packets stamped later are dropped; -1: none
    uint32_t catalogueIndex = 0;
    std::vector<uint8_t> resolutionCodes; // by channel
};

struct MergeResult {
    size_t entries = 0;
    uint32_t endSeconds = 0;  // time of the last packet taken, whole seconds since 1970
    bool bufferFull = false;  // a telemetry record did not fit: the merge ended there
};

class RecordingMerge
{
public:
    static constexpr uint8_t MediaRate = 30;
    static constexpr uint8_t GpsRate = 1;

    // Appends to index (and the G-sensor samples to gsensor); the buffer
    // receives the telemetry records after the packet payloads.
    static MergeResult run(const RecordPackets &packets, const MergeOptions &options, FrameBuffer &buffer,
                           std::vector<FrameIndexEntry> &index, std::vector<GSensorSample> &gsensor);
};
