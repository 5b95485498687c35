#pragma once
// One recording loaded whole into memory: its frame buffer, its frame
// indexes and reading position, its track tables, G-sensor samples and
// times. The Reader keeps one for playback and one for export, so an export
// never moves playback or frees what the read thread is reading.
#include "BankEntry.h"
#include "FileRecord.h"
#include "FrameBuffer.h"
#include "FrameIndex.h"
#include "LoadCancel.h"
#include "RecordTracks.h"

#include <QString>

#include <vector>

class LoadedRecording
{
public:
    struct BankLoad {
        int catalogueIndex = 0;
        bool keepBuffer = false;
        bool backward = false;      // also build the backward index
        uint64_t limit = 0;         // 0: none
        int channelCount = 1;       // channels of the backward index
        bool gsensorList = true;
        LoadCancel cancel;          // asked between reads
    };

    // 0, or -1 when the data file does not open or holds no byte of the bank;
    // LoadCancelled when load.cancel ended it.
    int loadBank(const BankEntry &entry, const BankLoad &load);
    // Payload bytes loaded; below 1 when nothing was loaded (LoadCancelled
    // when cancel ended it).
    int64_t loadFile(int catalogueIndex, const FileRecord &record, bool keepBuffer, const LoadCancel &cancel = {});
    // Why the last load failed, as a person would be told; empty after a
    // load that succeeded.
    const QString &loadError() const { return error_; }

    // Hands out the entry at the position of the forward (or backward)
    // index and writes its prefix and payload into out, never beyond
    // capacity. Bytes written; 0 at the end of the index.
    int next(ParameterSets::Reading reading, FrameIndexEntry &entry, uint8_t *out, size_t capacity);
    // Moves the position in the forward or backward index to mediaMs;
    // unchanged when no key frame of channel 0 fits.
    void seek(bool backwardIndex, int64_t mediaMs);
    // Record files load forward only: builds the backward index of what is
    // loaded over its video channels, positioned at its start.
    void buildBackwardIndex();

    // Video (kind 0): the parameter sets of channel; audio: the
    // AudioSpecificConfig. Bytes written, 0 when there are none.
    int videoHeader(int kind, int channel, uint8_t *out, size_t capacity) const;
    // Record files: the configuration of a loaded channel of that size when
    // there is one, else the fixed H.265 set. Bytes written, 0 for none.
    int h265Header(int width, int height, uint8_t *out, size_t capacity) const;

    bool isRecordFile() const { return recordFile_; }
    size_t position() const { return position_; }
    const std::vector<FrameIndexEntry> &forward() const { return forward_; }
    const std::vector<FrameIndexEntry> &backward() const { return backward_; }
    const std::vector<GSensorSample> &gsensor() const { return gsensor_; }
    const std::vector<VideoTrack> &videoTracks() const { return tracks_.video; }
    const std::vector<TrackConfig> &trackConfigs() const { return tracks_.configs; }
    const AudioDescription &audio() const { return tracks_.audio; }
    const FrameBuffer &buffer() const { return buffer_; }
    // Bit c set when the loaded index holds video of channel c (0-31).
    uint32_t videoChannels() const;
    int64_t startTime() const { return start_; }
    int64_t endTime() const { return end_; }
    uint32_t duration() const { return duration_; }
    int catalogueIndex() const { return catalogueIndex_; }

private:
    void reset();
    FrameIndex::FrameSource source() const;

    FrameBuffer buffer_;
    std::vector<FrameIndexEntry> forward_;
    std::vector<FrameIndexEntry> backward_;
    size_t position_ = 0;
    bool recordFile_ = false;
    RecordTracks tracks_;
    std::vector<ParameterSet> channelConfigs_; // views of tracks_.video[c].config
    std::vector<GSensorSample> gsensor_;
    int64_t start_ = 0;
    int64_t end_ = 0;
    uint32_t duration_ = 0;
    int catalogueIndex_ = -1;
    QString error_;
};
