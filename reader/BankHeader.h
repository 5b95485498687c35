#pragma once
// The 203-byte header of a bank and the rules that place and check it.
#include <QByteArray>
#include <QSize>

class BankHeader
{
public:
    static constexpr int Size = 203;
    static constexpr quint32 FrameDataStart = 33792;
    static constexpr quint32 MinBankSize = FrameDataStart + Size;
    static constexpr quint32 LateHeaderDistance = 204800;   // from the bank's end
    static constexpr quint32 EarlyHeaderOffset = 16384;

    BankHeader() = default;
    explicit BankHeader(const QByteArray &bytes);

    // Where the header stands inside a bank, from the bank's first 203
    // bytes: late (bank size - 204800) when byte 162 is '2'..'9', early
    // (16384) otherwise. Archives keep their banks as the card had them, so
    // the same rule holds there. -1 when the place does not leave room for a
    // whole header inside the bank.
    static qint64 offsetInBank(const char *bankStart, quint32 bankSize);
    // The late place, where archives written before the rule applied to
    // them keep every header; -1 when the bank is too small for it.
    static qint64 lateOffset(quint32 bankSize);

    // Magic 0x1111, a recording present, frame data ending inside the bank.
    bool isValid(quint32 bankSize) const;

    quint16 bankSeq() const;
    quint32 dataEnd() const;
    qint64 endTime() const;
    qint64 startTime() const;
    quint8 status() const;
    quint32 sortKey() const;
    quint8 channels() const;
    QByteArray modelCode() const;
    quint8 resolutionCode(int channel) const;

private:
    QByteArray data = QByteArray(Size, '\0');
};

// Picture size of a resolution code; code 16 is 2688 x 1520 only in archives.
QSize resolutionOfCode(int code, bool archive);
