#include "AudioPlayer.h"

#include "LogCategories.h"
#include "pvna_log.h"

#include <QtGlobal>
#include <SDL.h>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#if LIBSWRESAMPLE_VERSION_INT >= AV_VERSION_INT(4, 5, 100)
#define ZV_CHANNEL_LAYOUT_API 1
#endif

namespace {

bool startsAdtsFrame(const uint8_t *data, int size)
{
    return size >= 2 && data[0] == 0xFF && (data[1] & 0xF6) == 0xF0;
}

int frameChannels(const AVFrame *frame)
{
#ifdef ZV_CHANNEL_LAYOUT_API
    return frame->ch_layout.nb_channels;
#else
    return frame->channels;
#endif
}

} // namespace

bool AudioPlayer::parseAdtsHeader(const uint8_t *bytes, int size, AdtsHeader *header)
{
    static const int rates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                  16000, 12000, 11025, 8000,  7350,  -1,    -1,    -1};
    if (!bytes || size < 7 || !startsAdtsFrame(bytes, size))
        return false;
    const int rate = rates[(bytes[2] >> 2) & 0x0F];
    if (rate <= 0)
        return false;
    int channels = ((bytes[2] & 0x01) << 2) | (bytes[3] >> 6);
    header->sampleRate = rate;
    header->channels = channels == 0 ? 2 : channels;
    header->frameLength = ((bytes[3] & 0x03) << 11) | (bytes[4] << 3) | (bytes[5] >> 5);
    return true;
}

AudioPlayer::AudioPlayer()
    : m_ring(new uint8_t[RingSize])
    , m_assembly(new uint8_t[AssemblySize])
{
}

AudioPlayer::~AudioPlayer()
{
    close();
}

int AudioPlayer::open(Kind kind, int sampleRate, int channels)
{
    close();
    m_kind = kind;
    if (kind == Pcm) {
        sampleRate = PcmRate;
        channels = 1;
    }
    if (sampleRate <= 0 || channels <= 0) {
        qCDebug(lcAudio, "[%s::%d]can't open audio. %d\n", "initCodec", __LINE__, sampleRate);
        return 2;
    }
    m_rate = sampleRate;
    m_channels = std::min(channels, 2);

    // The programs handle SIGINT and SIGTERM themselves; SDL's handlers
    // would turn them into a quit event nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_TIMER | SDL_INIT_AUDIO) < 0) {
        qCWarning(lcAudio, "Could not initialize SDL - %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec wanted;
    SDL_zero(wanted);
    wanted.freq = m_rate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = Uint8(m_channels);
    wanted.silence = 0;
    wanted.samples = kind == Pcm ? 1024 : 8192;
    wanted.callback = &AudioPlayer::callback;
    wanted.userdata = this;
    // No obtained spec: SDL converts to whatever the hardware wants.
    m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (m_device == 0) {
        qCDebug(lcAudio, "[%s::%d]can't open audio. %d\n", "initCodec", __LINE__, 0);
        SDL_QuitSubSystem(SDL_INIT_TIMER | SDL_INIT_AUDIO);
        return 2;
    }
    int result = 0;
    if (kind == Aac && openDecoder() != 0)
        result = 3;
    m_paused = false;
    SDL_PauseAudioDevice(m_device, 0);
    return result;
}

int AudioPlayer::openDecoder()
{
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (!codec)
        return -1;
    m_parser = av_parser_init(AV_CODEC_ID_AAC);
    m_codec = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_parser || !m_codec || !m_packet || !m_frame)
        return -1;
#ifdef ZV_CHANNEL_LAYOUT_API
    av_channel_layout_default(&m_codec->ch_layout, m_channels);
#else
    m_codec->channels = m_channels;
    m_codec->channel_layout = av_get_default_channel_layout(m_channels);
#endif
    m_codec->sample_rate = m_rate;
    m_codec->request_sample_fmt = AV_SAMPLE_FMT_S16;
    m_codec->strict_std_compliance = -2;
    if (avcodec_open2(m_codec, codec, nullptr) < 0) {
        qCWarning(lcAudio, "Error: could not open codec.\n");
        closeDecoder();
        return -1;
    }
    return 0;
}

void AudioPlayer::closeDecoder()
{
    if (m_parser)
        av_parser_close(m_parser);
    m_parser = nullptr;
    avcodec_free_context(&m_codec);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    swr_free(&m_swr);
    m_swrInRate = 0;
    m_swrInFormat = -1;
    m_swrInChannels = 0;
    m_pcm.reset();
    m_pcmCapacity = 0;
}

void AudioPlayer::close()
{
    if (m_device) {
        SDL_CloseAudioDevice(m_device); // waits for the callback to return
        m_device = 0;
        SDL_QuitSubSystem(SDL_INIT_TIMER | SDL_INIT_AUDIO);
    }
    closeDecoder();
    m_writePos = m_readPos = 0;
    m_fill = 0;
    m_played = 0;
    m_assemblyFill = 0;
    m_paused = false;
}

void AudioPlayer::reset()
{
    if (m_device)
        SDL_LockAudioDevice(m_device);
    m_writePos = m_readPos = 0;
    m_fill = 0;
    if (m_device)
        SDL_UnlockAudioDevice(m_device);
    m_assemblyFill = 0;
    if (m_codec)
        avcodec_flush_buffers(m_codec);
    if (m_parser) {
        av_parser_close(m_parser);
        m_parser = av_parser_init(AV_CODEC_ID_AAC);
    }
}

void AudioPlayer::pause()
{
    if (m_device)
        SDL_PauseAudioDevice(m_device, 1);
    m_paused = true;
}

void AudioPlayer::resume()
{
    if (m_device)
        SDL_PauseAudioDevice(m_device, 0);
    m_paused = false;
}

int AudioPlayer::setVolume(int percent)
{
    const int volume = std::clamp(percent, 0, 100) * SDL_MIX_MAXVOLUME / 100;
    return m_volume.exchange(volume);
}

int AudioPlayer::feed(const uint8_t *data, int size)
{
    if (!m_device || !data || size <= 0)
        return -1;
    if (m_fill.load(std::memory_order_acquire) > RingHighWater)
        return 1;
    if (m_kind == Pcm) {
        if (size > RingSize - m_fill.load(std::memory_order_acquire))
            return 1;
        writeRing(data, size);
        return 0;
    }
    if (!m_codec)
        return -1;
    if (startsAdtsFrame(data, size) && m_assemblyFill > 0)
        decodeAssembled();
    if (size > AssemblySize - m_assemblyFill) {
        PVNA_ERROR("ADTS frame larger than %d bytes dropped\n", AssemblySize);
        m_assemblyFill = 0;
        return -1;
    }
    memcpy(m_assembly.get() + m_assemblyFill, data, size_t(size));
    m_assemblyFill += size;
    return 0;
}

void AudioPlayer::finishInput()
{
    if (!m_codec)
        return;
    if (m_assemblyFill > 0)
        decodeAssembled();
    // Let the parser hand out a frame it still holds.
    uint8_t *out = nullptr;
    int outSize = 0;
    av_parser_parse2(m_parser, m_codec, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (outSize > 0) {
        m_packet->data = out;
        m_packet->size = outSize;
        decodePacket(m_packet);
    }
}

void AudioPlayer::decodeAssembled()
{
    const uint8_t *input = m_assembly.get();
    int left = m_assemblyFill;
    m_assemblyFill = 0;
    while (left > 0) {
        uint8_t *out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(m_parser, m_codec, &out, &outSize, input, left, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0) {
            qCWarning(lcAudio, "Error while parsing!!");
            return;
        }
        input += used;
        left -= used;
        if (outSize > 0) {
            m_packet->data = out;
            m_packet->size = outSize;
            decodePacket(m_packet);
        }
    }
}

void AudioPlayer::decodePacket(AVPacket *packet)
{
    if (avcodec_send_packet(m_codec, packet) < 0) {
        PVNA_ERROR("Error submitting the packet to the decoder\n");
        return;
    }
    for (;;) {
        const int result = avcodec_receive_frame(m_codec, m_frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        if (result < 0) {
            PVNA_ERROR("Error during decoding\n");
            return;
        }
        if (convertFrame())
            writeRing(m_pcm.get(), m_pcmBytes);
        av_frame_unref(m_frame);
    }
}

// Converts the decoded frame to interleaved signed 16-bit at the device's
// rate and channel count. The converter follows the frame itself, so a
// stream whose decoder output differs from its header (SBR doubling the rate,
// parametric stereo) still plays at the right pitch.
bool AudioPlayer::convertFrame()
{
    const int inChannels = frameChannels(m_frame);
    if (!m_swr || m_swrInRate != m_frame->sample_rate || m_swrInFormat != m_frame->format ||
        m_swrInChannels != inChannels) {
        swr_free(&m_swr);
#ifdef ZV_CHANNEL_LAYOUT_API
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, m_channels);
        if (swr_alloc_set_opts2(&m_swr, &outLayout, AV_SAMPLE_FMT_S16, m_rate, &m_frame->ch_layout,
                                AVSampleFormat(m_frame->format), m_frame->sample_rate, 0, nullptr) < 0)
            m_swr = nullptr;
#else
        const int64_t inLayout = m_frame->channel_layout ? int64_t(m_frame->channel_layout)
                                                         : av_get_default_channel_layout(inChannels);
        m_swr = swr_alloc_set_opts(nullptr, av_get_default_channel_layout(m_channels), AV_SAMPLE_FMT_S16, m_rate,
                                   inLayout, AVSampleFormat(m_frame->format), m_frame->sample_rate, 0, nullptr);
#endif
        if (!m_swr || swr_init(m_swr) < 0) {
            PVNA_ERROR("Could not allocate destination samples\n");
            swr_free(&m_swr);
            return false;
        }
        m_swrInRate = m_frame->sample_rate;
        m_swrInFormat = m_frame->format;
        m_swrInChannels = inChannels;
    }
    const int outSamples = swr_get_out_samples(m_swr, m_frame->nb_samples);
    const int needed = outSamples * m_channels * 2;
    if (needed > m_pcmCapacity) {
        m_pcm.reset(new uint8_t[size_t(needed)]);
        m_pcmCapacity = needed;
    }
    uint8_t *outPlanes[1] = {m_pcm.get()};
    const int converted = swr_convert(m_swr, outPlanes, outSamples, const_cast<const uint8_t **>(m_frame->extended_data),
                                      m_frame->nb_samples);
    if (converted < 0) {
        PVNA_ERROR("encavcodecaWork: swr_convert() failed(%d:%d)\n", converted, m_frame->nb_samples);
        return false;
    }
    m_pcmBytes = converted * m_channels * 2;
    return true;
}

void AudioPlayer::writeRing(const uint8_t *data, int size)
{
    const int room = RingSize - m_fill.load(std::memory_order_acquire);
    if (size > room) {
        PVNA_ERROR("Output Buffer has not enough space(Need:%d but has %d)\n", size, room);
        size = room;
    }
    const int first = std::min(size, RingSize - m_writePos);
    memcpy(m_ring.get() + m_writePos, data, size_t(first));
    memcpy(m_ring.get(), data + first, size_t(size - first));
    m_writePos = (m_writePos + size) % RingSize;
    m_fill.fetch_add(size, std::memory_order_release);
}

void AudioPlayer::callback(void *user, uint8_t *stream, int length)
{
    static_cast<AudioPlayer *>(user)->play(stream, length);
}

// SDL's audio thread, with the device lock held.
void AudioPlayer::play(uint8_t *stream, int length)
{
    memset(stream, 0, size_t(length));
    const int frameBytes = m_channels * 2;
    int available = m_fill.load(std::memory_order_acquire);
    available -= available % frameBytes;
    int bytes = std::min(length, available);
    const int volume = m_volume.load();
    int done = 0;
    while (done < bytes) {
        const int piece = std::min(bytes - done, RingSize - m_readPos);
        SDL_MixAudioFormat(stream + done, m_ring.get() + m_readPos, AUDIO_S16LSB, Uint32(piece), volume);
        m_readPos = (m_readPos + piece) % RingSize;
        done += piece;
    }
    m_fill.fetch_sub(bytes, std::memory_order_release);
    m_played.fetch_add(bytes);
}
