// The frame data walk of a bank, the backward index built from it, seeks in
// both and every frame handed out, on arbitrary bank contents. Eight bytes
// choose the data end, the channel count, the load limit and the caller's
// buffer size; the rest is the frame data from its usual place in the bank.
#include "FrameIndex.h"

#include <QtGlobal>

#include <cstdlib>
#include <cstring>

namespace {

void readAll(const std::vector<FrameIndexEntry> &index, const FrameIndex::FrameSource &source,
             ParameterSets::Reading reading, size_t capacity)
{
    std::vector<uint8_t> out(capacity);
    size_t position = 0;
    FrameIndexEntry entry;
    size_t handedOut = 0;
    while (int n = FrameIndex::nextFrame(index, position, source, reading, entry, out.data(), out.size())) {
        if (n < 0 || size_t(n) > capacity)
            abort();
        ++handedOut;
    }
    if (handedOut > index.size() || position != index.size())
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Skipped frames are reported on Qt's log; at fuzzing speed that is noise.
    static const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &,
                                                                       const QString &) {});
    (void)previous;
    if (size < 8)
        return 0;
    uint32_t endChoice;
    memcpy(&endChoice, data, 4);
    const int channels = data[4] % 12;
    FrameIndex::BankWalkOptions options;
    options.catalogueIndex = 3;
    options.backwardLoad = data[5] & 1;
    options.limit = (data[5] & 2) ? data[6] : 0;
    const size_t capacity = size_t(data[7]) * 8;

    std::vector<uint8_t> bank(FrameIndex::BankDataStart);
    bank.insert(bank.end(), data + 8, data + size);
    // The data end may lie anywhere, also past the buffer.
    const uint64_t dataEnd = FrameIndex::BankDataStart + endChoice % (size + 256);

    std::vector<FrameIndexEntry> forward;
    std::vector<GSensorSample> samples;
    FrameIndex::walkBank(bank.data(), bank.size(), dataEnd, options, forward, &samples);
    for (const FrameIndexEntry &e : forward)
        if (e.size < 0 || uint64_t(e.payloadOffset) + uint64_t(e.size) > bank.size() || e.channel >= 9)
            abort();

    const std::vector<FrameIndexEntry> backward = FrameIndex::buildBackward(forward, channels);
    size_t videoFromFirstKey = 0;
    std::vector<bool> keySeen(FrameIndex::MaxChannels);
    for (const FrameIndexEntry &e : forward) {
        if (e.marker == FrameIndexEntry::Video && e.channel < channels) {
            keySeen[e.channel] = keySeen[e.channel] || e.gop == 0;
            videoFromFirstKey += keySeen[e.channel];
        } else if (e.marker == FrameIndexEntry::GSensor) {
            ++videoFromFirstKey;
        }
    }
    if (backward.size() != videoFromFirstKey)
        abort();

    const int64_t first = forward.empty() ? 0 : forward.front().sec;
    for (int64_t target : {int64_t(-1), first - 1, first, first + 1, int64_t(UINT32_MAX) + 1}) {
        size_t position = forward.size() + 7;
        if (FrameIndex::seekForward(forward, target, position) && !forward[position].isKeyFrame())
            abort();
        position = backward.size() + 7;
        if (FrameIndex::seekBackward(backward, target, position) && !backward[position].isKeyFrame())
            abort();
    }

    const uint8_t config[] = {0, 0, 0, 1, 0x40, 1};
    const ParameterSet configs[] = {{config, sizeof config}, {config, 4}};
    const FrameIndex::FrameSource cardSource{bank.data(), bank.size()};
    const FrameIndex::FrameSource fileSource{bank.data(), bank.size(), configs, 2};
    readAll(forward, cardSource, ParameterSets::Reading::Forward, capacity);
    readAll(backward, cardSource, ParameterSets::Reading::Backward, capacity);
    readAll(forward, fileSource, ParameterSets::Reading::Export, capacity);

    uint8_t header[103];
    FrameIndex::videoHeaderForChannel(forward, data[4] % 10, header, sizeof header);
    return 0;
}
