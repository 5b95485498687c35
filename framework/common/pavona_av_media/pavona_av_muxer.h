#pragma once
// Muxer of the media library: opaque handles over libavformat outputs (MP4
// and Matroska files, MPEG-TS over UDP or RTP, FLV over RTMP), each created
// with one call that describes every stream, then written with packets
// stamped in milliseconds. At most PVNA_AV_MUX_MAX_SLOTS outputs exist at a
// time in one process; a library mutex serialises Open, Close, Create and
// Finalize. One handle is written from one thread at a time; different
// handles may be written from different threads.
//
// Calling order: Open -> Create -> writes and queries -> Finalize -> Close.
// A failed Create leaves the slot occupied but empty: Close it all the same.
// Every function returns 0 on success and -1 on failure unless said
// otherwise; errors are logged to stderr with the library's error line.
#include <cstdint>

#define PVNA_AV_MUX_MAX_SLOTS 32
#define PVNA_AV_MUX_OWNER_NAME_SIZE 128
#define PVNA_AV_MUX_OUTPUT_NAME_SIZE 256
#define PVNA_AV_MUX_DESTINATION_SIZE 256
#define PVNA_AV_MUX_MAX_VIDEO_CONFIG 4096
#define PVNA_AV_MUX_MAX_AUDIO_CONFIG 256

// Transports and kinds of PVNA_AV_MUX_CREATE_PARAM.
#define PVNA_AV_MUX_TRANSPORT_FILE 0
#define PVNA_AV_MUX_TRANSPORT_STREAM 1
#define PVNA_AV_MUX_FILE_MP4 0
#define PVNA_AV_MUX_FILE_MKV 1
#define PVNA_AV_MUX_STREAM_UDP_TS 0
#define PVNA_AV_MUX_STREAM_RTP_TS 1
#define PVNA_AV_MUX_STREAM_TEST_FEED 2 // refused: there is no built-in feed
#define PVNA_AV_MUX_STREAM_UNSUPPORTED 3
#define PVNA_AV_MUX_STREAM_RTMP 4
#define PVNA_AV_MUX_STREAM_TCP 5 // refused: libavformat has no "tcp" output format

// Codec codes (video 1 means "no stream": the descriptor is skipped).
#define PVNA_AV_MUX_VIDEO_NONE 1
#define PVNA_AV_MUX_VIDEO_H264 22
#define PVNA_AV_MUX_VIDEO_HEVC 23 // any code but 1 and 22 is HEVC
#define PVNA_AV_MUX_AUDIO_AAC 1
#define PVNA_AV_MUX_AUDIO_MP3 13
#define PVNA_AV_MUX_AUDIO_PCM 16 // any code but 1 and 13 is PCM S16LE

// Pixel format codes.
#define PVNA_AV_MUX_PIX_YUV420P 40
#define PVNA_AV_MUX_PIX_NV12 44
#define PVNA_AV_MUX_PIX_NV12_ALT 54
#define PVNA_AV_MUX_PIX_NV21 45
#define PVNA_AV_MUX_PIX_NV21_ALT 55

// Audio packaging: AAC frames arrive with ADTS headers.
#define PVNA_AV_MUX_PACKAGING_ADTS 2

typedef struct PVNA_AV_MUX_HANDLE_S {
    char ownerName[PVNA_AV_MUX_OWNER_NAME_SIZE];
    uint32_t state; // 1 between a successful Create and Finalize, else 0
    uint32_t slot;  // 0 .. PVNA_AV_MUX_MAX_SLOTS - 1
} PVNA_AV_MUX_HANDLE;

typedef struct {
    uint32_t codec;       // PVNA_AV_MUX_VIDEO_*
    uint32_t pixelFormat; // PVNA_AV_MUX_PIX_*; others are refused
    uint32_t frameRate;   // whole frames per second
    uint32_t width;       // rounded up to even
    uint32_t height;
    uint8_t config[PVNA_AV_MUX_MAX_VIDEO_CONFIG]; // parameter sets (Annex-B or avcC/hvcC)
    uint32_t configSize;
    uint32_t streamIndex; // written by Create
} PVNA_AV_MUX_VIDEO_INFO;

typedef struct {
    uint32_t codec;      // PVNA_AV_MUX_AUDIO_*
    uint32_t sampleRate; // Hz
    uint32_t channels;   // 1-8
    uint32_t packaging;  // PVNA_AV_MUX_PACKAGING_ADTS or 0
    uint8_t config[PVNA_AV_MUX_MAX_AUDIO_CONFIG]; // AAC AudioSpecificConfig
    uint32_t configSize;
    uint32_t streamIndex; // written by Create
} PVNA_AV_MUX_AUDIO_INFO;

typedef struct {
    uint32_t enabled; // 1 creates the stream
    uint32_t x, y, width, height;
    uint32_t streamIndex; // written by Create
} PVNA_AV_MUX_SUBT_INFO;

typedef struct {
    uint32_t enabled; // 1 creates the stream
    uint32_t streamIndex; // written by Create
    // Matroska keeps an attachment in its header: its bytes are given here
    // and written by Create (WriteAttach is refused for Matroska). MP4
    // writes attachment packets as a "gpmd" data track instead.
    const uint8_t *data;
    uint32_t dataSize;
} PVNA_AV_MUX_ATTACH_INFO;

typedef struct {
    uint32_t firstCount;
    uint32_t *first;
    uint32_t secondCount;
    uint32_t *second;
} PVNA_AV_MUX_CHAPTER_INFO;

typedef struct {
    char host[32];
    uint16_t port;
    int32_t maxDelay;
    int32_t packetDelay;
    int32_t dscp;
    int32_t bufferSize;
    int32_t ttl;
    int32_t listen;
    char streamPath[196]; // RTMP
} PVNA_AV_MUX_STREAM_DESTINATION;

typedef union {
    char path[PVNA_AV_MUX_DESTINATION_SIZE]; // files: output path without extension
    PVNA_AV_MUX_STREAM_DESTINATION stream;
} PVNA_AV_MUX_DESTINATION;

// Custom I/O: the library writes the container through these instead of a
// file. write returns the bytes taken or a negative error; seek follows
// lseek (whence SEEK_SET, SEEK_CUR, SEEK_END, or 0x10000 to ask the size)
// and may be null for an output that cannot seek.
typedef int (*PVNA_AV_MUX_WRITE_CB)(void *opaque, const uint8_t *data, int size);
typedef int64_t (*PVNA_AV_MUX_SEEK_CB)(void *opaque, int64_t offset, int whence);

typedef struct {
    uint32_t transport; // PVNA_AV_MUX_TRANSPORT_*
    int32_t kind;       // PVNA_AV_MUX_FILE_* or PVNA_AV_MUX_STREAM_*
    PVNA_AV_MUX_DESTINATION destination;
    uint32_t fragmented; // MP4: 1 = fragmented
    int32_t audioCount;
    PVNA_AV_MUX_AUDIO_INFO *audio;
    int32_t videoCount;
    PVNA_AV_MUX_VIDEO_INFO *video;
    int32_t subtCount;
    PVNA_AV_MUX_SUBT_INFO *subt;
    int32_t attachCount;
    PVNA_AV_MUX_ATTACH_INFO *attach;
    // Metadata, each used when its first byte is not 0.
    char title[64];
    char date[64];
    char artist[64];
    char albumArtist[64]; // Matroska: director
    char composer[64];
    char comment[64];
    char album[64];
    char genre[32];
    char description[128];
    char synopsis[512];
    char encodingTool[64];
    char serviceProvider[64];
    int32_t chapterCount;
    PVNA_AV_MUX_CHAPTER_INFO *chapters;
    uint32_t customIO; // 1: write through the callbacks below
    uint32_t customIOBufferSize;
    void *opaque;
    PVNA_AV_MUX_WRITE_CB write;
    PVNA_AV_MUX_SEEK_CB seek;
} PVNA_AV_MUX_CREATE_PARAM;

// *handle must be null; ownerName may be null ("Unknown").
int PVNA_AV_MUX_Open(PVNA_AV_MUX_HANDLE **handle, const char *ownerName);
// Writes the stream indexes back into the descriptors.
int PVNA_AV_MUX_Create(PVNA_AV_MUX_HANDLE *handle, PVNA_AV_MUX_CREATE_PARAM *param);
// Packets before the first key frame are dropped (result 0).
int PVNA_AV_MUX_WriteVideo(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t unused,
                           const uint8_t *data, int size, int keyFlag);
// direct 1 writes at once, 0 through the muxer's interleaving queue.
int PVNA_AV_MUX_WriteAudio(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t unused,
                           const uint8_t *data, int size, int direct);
// data is UTF-8 text; durationMs > 0 is how long it shows (0: until the
// next). A failed write is logged and counted, and still returns 0.
int PVNA_AV_MUX_WriteSubtitle(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t durationMs,
                              const uint8_t *data, int size, int unused, int direct);
int PVNA_AV_MUX_WriteAttach(PVNA_AV_MUX_HANDLE *handle, int track, int64_t timestampMs, int64_t unused,
                            const uint8_t *data, int size, int unused2, int direct);
// The end time of the stream's last packet in the stream's time base.
int PVNA_AV_MUX_GetVideoPts(PVNA_AV_MUX_HANDLE *handle, int track, double *pts);
int PVNA_AV_MUX_GetAudioPts(PVNA_AV_MUX_HANDLE *handle, int track, double *pts);
// Milliseconds from the first video packet to the last; -1 on failure.
int64_t PVNA_AV_MUX_GetChapterPts(PVNA_AV_MUX_HANDLE *handle);
int PVNA_AV_MUX_AddChapter(PVNA_AV_MUX_HANDLE *handle, int64_t startMs, int64_t endMs, const char *title);
int PVNA_AV_MUX_UpdateMetaCmnt(PVNA_AV_MUX_HANDLE *handle, const char *comment);
// 1 between Create and Finalize, else 0 (also for null).
int PVNA_AV_MUX_GetState(PVNA_AV_MUX_HANDLE *handle);
// Writes the trailer and flushes; -1 when any of it failed to reach the output.
int PVNA_AV_MUX_Finalize(PVNA_AV_MUX_HANDLE *handle);
// Releases everything and sets *handle to null.
int PVNA_AV_MUX_Close(PVNA_AV_MUX_HANDLE **handle);
