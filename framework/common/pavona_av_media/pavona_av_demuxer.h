#pragma once
// MP4 demuxer of the media library: opens a recording through libavformat and
// hands every packet to a sink in elementary-stream form (video as Annex-B,
// AAC as an ADTS header packet followed by its payload packet, data-stream
// bytes as stored). Handles are opaque and live in a process-wide registry of
// at most PVNA_AV_DEMUX_MAX_HANDLES, guarded by one mutex.
#include <cstdint>

#define PVNA_AV_DEMUX_MAX_HANDLES 32
#define PVNA_AV_DEMUX_MAX_VIDEO 8
#define PVNA_AV_DEMUX_MAX_AUDIO 8
#define PVNA_AV_DEMUX_MAX_DATA 8
#define PVNA_AV_DEMUX_MAX_VIDEO_CONFIG 4096
#define PVNA_AV_DEMUX_MAX_AUDIO_CONFIG 256
#define PVNA_AV_DEMUX_MAX_SOURCE_NAME 256

// Results of PVNA_AV_DEMUX_ReadPacket beside 0 (one packet taken) and -1.
#define PVNA_AV_DEMUX_END (-10)
#define PVNA_AV_DEMUX_UNSUPPORTED (-2)
#define PVNA_AV_DEMUX_SINK_REFUSED (-3)

// Codec codes of the stream descriptions.
#define PVNA_AV_CODEC_AAC 1
#define PVNA_AV_CODEC_MP3 13
#define PVNA_AV_CODEC_H264 22
#define PVNA_AV_CODEC_HEVC 23

// Format marker of a video stream: planar YUV 4:2:0 or anything else.
#define PVNA_AV_FORMAT_YUV420P 40
#define PVNA_AV_FORMAT_OTHER 44

// Media types of delivered packets (audio is 1, as in the track tables).
#define PVNA_AV_MEDIA_VIDEO 0
#define PVNA_AV_MEDIA_AUDIO 1
#define PVNA_AV_MEDIA_DATA 2

// Open flags. Only memory output is provided: the viewer opens files by path
// and never writes elementary-stream files.
#define PVNA_AV_DEMUX_FLAG_CUSTOM_INPUT 0x1
#define PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT 0x2

typedef struct PVNA_AV_DEMUX_Context *PVNA_AV_DEMUX_Handle;

typedef struct {
    int streamIndex;     // stream number in the container
    int trackIndex;      // order among the accepted streams of its media type (video: the channel)
    int mediaType;       // PVNA_AV_MEDIA_*
    int key;             // 1 for a video key frame; 1 for audio and data
    int64_t timeMs;      // media time in milliseconds from the container's zero
    const uint8_t *data; // valid only during the sink call
    int size;
} PVNA_AV_DEMUX_Packet;

// Receives one packet per call; a negative result refuses it (for example a
// full frame buffer) and makes the read return PVNA_AV_DEMUX_SINK_REFUSED.
// The sink must not call back into the demuxer.
typedef int (*PVNA_AV_DEMUX_Sink)(void *opaque, const PVNA_AV_DEMUX_Packet *packet);

typedef struct {
    const char *path;
    int flags; // PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT is required
    PVNA_AV_DEMUX_Sink sink;
    void *opaque;
} PVNA_AV_DEMUX_OpenParams;

typedef struct {
    int streamIndex;
    int codec;     // PVNA_AV_CODEC_H264 or PVNA_AV_CODEC_HEVC
    int width;
    int height;
    int frameRate; // average frame rate as an integer, 0 when unknown
    int format;    // PVNA_AV_FORMAT_*
    int extradataSize; // the container's codec configuration (0 when over the limit)
    uint8_t extradata[PVNA_AV_DEMUX_MAX_VIDEO_CONFIG];
    int configSize;    // the parameter sets in Annex-B form, as the delivered frames carry them
    uint8_t config[PVNA_AV_DEMUX_MAX_VIDEO_CONFIG];
} PVNA_AV_DEMUX_VideoInfo;

typedef struct {
    int streamIndex;
    int codec; // PVNA_AV_CODEC_AAC or PVNA_AV_CODEC_MP3
    int sampleRate;
    int channels;
    int extradataSize; // AAC: the AudioSpecificConfig
    uint8_t extradata[PVNA_AV_DEMUX_MAX_AUDIO_CONFIG];
} PVNA_AV_DEMUX_AudioInfo;

typedef struct {
    int videoCount;
    PVNA_AV_DEMUX_VideoInfo video[PVNA_AV_DEMUX_MAX_VIDEO];
    int audioCount;
    PVNA_AV_DEMUX_AudioInfo audio[PVNA_AV_DEMUX_MAX_AUDIO];
    int dataCount;
    int dataStreamIndex[PVNA_AV_DEMUX_MAX_DATA];
} PVNA_AV_DEMUX_StreamInfo;

// 0, or -1 when all handles are taken or memory runs out. sourceName may be
// null ("Unknown").
int PVNA_AV_DEMUX_Create(PVNA_AV_DEMUX_Handle *handle, const char *sourceName);

// Opens the file and describes its streams. On failure the handle is
// released: every later call with it returns -1.
int PVNA_AV_DEMUX_Open(PVNA_AV_DEMUX_Handle handle, const PVNA_AV_DEMUX_OpenParams *params);

// Copies the stream descriptions of an open handle; 0 or -1.
int PVNA_AV_DEMUX_GetStreamInfo(PVNA_AV_DEMUX_Handle handle, PVNA_AV_DEMUX_StreamInfo *info);

// Reads one packet of the file and delivers what it yields to the sink:
// 0 when a packet was taken (it may yield nothing: a video packet before the
// stream's first key frame, a negative time), PVNA_AV_DEMUX_END at the end
// (again on every later call), PVNA_AV_DEMUX_UNSUPPORTED for a packet of a
// stream that is not described, PVNA_AV_DEMUX_SINK_REFUSED, or -1.
int PVNA_AV_DEMUX_ReadPacket(PVNA_AV_DEMUX_Handle handle);

// Moves the input to the key frame at or before timeMs (any stream); each
// video stream then waits for a key frame again. Result of the frame seek.
int PVNA_AV_DEMUX_Seek(PVNA_AV_DEMUX_Handle handle, int64_t timeMs);

// Closes the input; the handle stays registered until destroyed.
int PVNA_AV_DEMUX_Close(PVNA_AV_DEMUX_Handle handle);

// Closes and releases the handle; -1 for a handle that is not registered.
int PVNA_AV_DEMUX_Destroy(PVNA_AV_DEMUX_Handle handle);
