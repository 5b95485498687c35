#include "BankHeader.h"

#include "LittleEndian.h"

BankHeader::BankHeader(const QByteArray &bytes) : data(bytes.left(Size))
{
    if (data.size() < Size)
        data.append(QByteArray(Size - data.size(), '\0'));
}

namespace {

qint64 fitting(qint64 offset, quint32 bankSize)
{
    return offset < 0 || offset + BankHeader::Size > qint64(bankSize) ? -1 : offset;
}

} // namespace

qint64 BankHeader::offsetInBank(const char *bankStart, quint32 bankSize)
{
    const char placeCode = bankStart[162];
    if (placeCode >= '2' && placeCode <= '9')
        return lateOffset(bankSize);
    return fitting(EarlyHeaderOffset, bankSize);
}

qint64 BankHeader::lateOffset(quint32 bankSize)
{
    return fitting(qint64(bankSize) - LateHeaderDistance, bankSize);
}

bool BankHeader::isValid(quint32 bankSize) const
{
    const char *d = data.constData();
    return le::u16(d) == 0x1111 && le::u8(d + 4) != 0 && dataEnd() <= bankSize;
}

quint16 BankHeader::bankSeq() const { return le::u16(data.constData() + 2); }
quint32 BankHeader::dataEnd() const { return le::u32(data.constData() + 7); }
qint64 BankHeader::endTime() const { return le::i32(data.constData() + 19); }
qint64 BankHeader::startTime() const { return le::i32(data.constData() + 23); }
quint8 BankHeader::status() const { return le::u8(data.constData() + 27); }
quint32 BankHeader::sortKey() const { return le::u32(data.constData() + 32); }
quint8 BankHeader::channels() const { return le::u8(data.constData() + 36); }
QByteArray BankHeader::modelCode() const { return data.mid(48, 4); }

quint8 BankHeader::resolutionCode(int channel) const
{
    if (channel < 0 || 182 + channel >= Size)
        return 0xff;
    return le::u8(data.constData() + 182 + channel);
}

QSize resolutionOfCode(int code, bool archive)
{
    switch (code) {
    case 0: case 4: case 14: case 18: return {1280, 720};
    case 1: return {320, 240};
    case 2: return {640, 480};
    case 3: case 17: return {704, 480};
    case 5: return {1280, 1024};
    case 12: case 15: return {1920, 1080};
    case 13: return {1920, 1088};
    case 16: return archive ? QSize(2688, 1520) : QSize(0, 0);
    case 30: return {960, 576};
    default: return {0, 0};
    }
}
