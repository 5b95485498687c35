// The catalogue's bank walk over arbitrary data files. Banks are large, so
// the input describes a sparse file: four bytes choose the bank size, the
// store (card or archive) and a ragged tail; then each 406-byte chunk gives
// one bank's first 203 bytes and the bytes put at both header places.
#include "BankWalk.h"

#include <QBuffer>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    quint32 choice;
    memcpy(&choice, data, 4);
    const bool archive = choice & 1;
    // From the smallest allowed bank size to past the late header distance,
    // so both header places are reached.
    const quint32 bankSize = BankHeader::MinBankSize + (choice >> 1) % 240000;
    const char *chunks = reinterpret_cast<const char *>(data + 4);
    const int banks = qMin(int((size - 4) / 406), 8);
    const int tail = int(choice >> 24) * 300;
    QByteArray file(banks * int(bankSize) + tail, '\0');
    for (int i = 0; i < banks; ++i) {
        char *bank = file.data() + qint64(i) * bankSize;
        memcpy(bank, chunks + 406 * i, 203);
        memcpy(bank + BankHeader::EarlyHeaderOffset, chunks + 406 * i + 203, 203);
        if (bankSize >= BankHeader::LateHeaderDistance + BankHeader::Size)
            memcpy(bank + bankSize - BankHeader::LateHeaderDistance, chunks + 406 * i + 203, 203);
    }
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    BankWalk walk;
    walkBanks(buffer, QStringLiteral("fuzz"), 0, file.size() / bankSize, bankSize, archive, &walk);
    for (const BankEntry &e : walk.entries) {
        if (e.dataEnd > bankSize || e.offset + bankSize > file.size())
            __builtin_trap();
    }
    if (walk.anyValid) {
        for (int c = -1; c < 16; ++c) {
            volatile int w = resolutionOfCode(walk.lastValid.resolutionCode(c), archive).width();
            (void)w;
        }
    }
    return 0;
}
