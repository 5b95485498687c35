#pragma once
// The sound of playback through SDL2: raw PCM (index store, signed 16-bit
// little-endian mono at 8192 Hz) or AAC in ADTS framing (record files),
// decoded and converted to signed 16-bit for the device. Decoded PCM waits in
// a ring that SDL's callback thread drains; the render thread is the only
// writer. Volume 0..128 is applied while mixing.
#include "RecordTracks.h"

#include <atomic>
#include <cstdint>
#include <memory>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

class AudioPlayer
{
public:
    enum Kind { Pcm = 0, Aac = 1 };

    static constexpr int PcmRate = AudioDescription::IndexStorePcmRate;
    static constexpr int RingSize = 0x80000;
    static constexpr int RingHighWater = 0x40000; // feed refuses more until SDL drained below it
    static constexpr int AssemblySize = 8192;     // largest ADTS frame accepted

    // What the first header of an ADTS stream says.
    struct AdtsHeader {
        int sampleRate = 0;
        int channels = 0;
        int frameLength = 0; // bytes, header included
    };
    // False when bytes do not start an ADTS header with a known rate.
    static bool parseAdtsHeader(const uint8_t *bytes, int size, AdtsHeader *header);

    AudioPlayer();
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer &) = delete;
    AudioPlayer &operator=(const AudioPlayer &) = delete;

    // (Re)opens the device, closing what was open. Pcm ignores the rate and
    // channel count and plays 8192 Hz mono. Aac opens the device with the
    // stream's rate and channel count (more than two channels are mixed down
    // to stereo). 0 ok; 1 SDL could not start; 2 the device did not open;
    // 3 the AAC decoder could not be set up (the device stays open, silent).
    int open(Kind kind, int sampleRate = PcmRate, int channels = 1);
    void close();
    bool isOpen() const { return m_device != 0; }

    // Takes one audio item: PCM bytes, or a piece of the ADTS stream (an item
    // starting a new ADTS frame sends the frame assembled so far to the
    // decoder). 0 taken; 1 the ring is full, offer the item again later;
    // -1 refused (not open, or an ADTS frame larger than AssemblySize, whose
    // bytes are dropped).
    int feed(const uint8_t *data, int size);
    // The stream ends here: decodes what is still assembled.
    void finishInput();
    // Drops everything buffered (seek, direction change).
    void reset();

    void pause();
    void resume();
    bool isPaused() const { return m_paused; }

    // percent 0..100 maps to 0..128; returns the previous volume.
    int setVolume(int percent);
    int volume() const { return m_volume.load(); }

    Kind kind() const { return m_kind; }
    int deviceRate() const { return m_rate; }
    int deviceChannels() const { return m_channels; }
    // PCM bytes decoded and not yet played.
    int bufferedBytes() const { return m_fill.load(); }
    // PCM bytes the device has taken from the ring since open.
    int64_t playedBytes() const { return m_played.load(); }

private:
    static void callback(void *user, uint8_t *stream, int length);
    void play(uint8_t *stream, int length);
    int openDecoder();
    void closeDecoder();
    void decodeAssembled();
    void decodePacket(AVPacket *packet);
    bool convertFrame();
    void writeRing(const uint8_t *data, int size);

    Kind m_kind = Pcm;
    uint32_t m_device = 0;
    int m_rate = 0;
    int m_channels = 0;
    bool m_paused = false;
    std::atomic<int> m_volume{64};

    // Single writer (render thread), single reader (SDL callback): the writer
    // publishes bytes by raising m_fill after writing them, the reader frees
    // them by lowering it after reading.
    std::unique_ptr<uint8_t[]> m_ring;
    int m_writePos = 0;
    int m_readPos = 0;
    std::atomic<int> m_fill{0};
    std::atomic<int64_t> m_played{0};

    // AAC
    std::unique_ptr<uint8_t[]> m_assembly;
    int m_assemblyFill = 0;
    AVCodecContext *m_codec = nullptr;
    AVCodecParserContext *m_parser = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_frame = nullptr;
    SwrContext *m_swr = nullptr;
    int m_swrInRate = 0;
    int m_swrInFormat = -1;
    int m_swrInChannels = 0;
    std::unique_ptr<uint8_t[]> m_pcm; // one converted frame
    int m_pcmCapacity = 0;
    int m_pcmBytes = 0;
};
