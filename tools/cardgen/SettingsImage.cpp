#include "SettingsImage.h"

#include "LittleEndian.h"

#include <QCryptographicHash>

QByteArray SettingsImage::build(int channels, const QString &model)
{
    QByteArray d(kDataSize, '\0');
    // Information texts.
    le::putText(d, 24, "Drive Recorder " + model.toLatin1(), 64);
    le::putText(d, 88, "ZidavOva ODM", 64);
    le::putText(d, 304, "2023.03.14", 64);
    le::putText(d, 384, "V1.2.3", 16);
    le::putText(d, 400, "V2.0.7", 16);
    // Network section: one access-point entry.
    le::put32(d, 640, 1);
    le::putText(d, 644, "zidavova-cam", 64);
    le::putText(d, 708, "192.168.1.1", 32);
    le::putText(d, 740, "255.255.255.0", 32);
    le::put32(d, 772, 1);
    le::putText(d, 776, "ZV-HOTSPOT", 32);
    le::putText(d, 808, "password1", 64);
    le::put32(d, 872, 6);
    le::put32(d, 876, 1);
    le::putText(d, 880, "WPA2", 256);
    // Time zone, language.
    le::put32(d, 2216, 0);
    le::put32(d, 2220, 0);
    le::put32(d, 2224, 0);
    // Channels: codec H.265, driving quality 1 at full rate, parking quality 1 at rate code 5.
    le::put32(d, 2228, quint32(qMin(channels, 8)));
    for (int c = 0; c < qMin(channels, 8); ++c) {
        const int e = 2232 + 292 * c;
        le::put32(d, e + 0, 1);
        le::put32(d, e + 4, quint32(c));
        le::put32(d, e + 8, 1);
        le::put32(d, e + 12, 1);
        le::put32(d, e + 16, 0);
        le::put32(d, e + 24, 1);
        le::put32(d, e + 28, 5);
        le::putText(d, e + 32, QByteArray("CAM") + QByteArray::number(c + 1), 32);
    }
    // Storage: one partition, parking share 30 %, no sub-entries.
    le::put32(d, 4568, 1);
    le::putText(d, 4572, "record", 64);
    le::put32(d, 4572 + 64, 30);
    le::put32(d, 4572 + 140, 0);
    le::put32(d, 12124, 0);
    le::put32(d, 12576, 0);
    // Audio save and volume.
    le::put32(d, 13444, 1);
    le::put32(d, 13448, 1);
    le::put32(d, 13452, 3);
    le::put32(d, 13456, 3);
    // Power: voltage used, type, value, temperature used, express, value.
    const quint32 power[6] = {1, 0, 3, 1, 0, 60};
    for (int i = 0; i < 6; ++i)
        le::put32(d, 13480 + 4 * i, power[i]);
    le::put32(d, 13512, 2);
    le::put32(d, 13516, 2);
    le::put32(d, 16984, 1);
    le::put32(d, 17288, 0);
    le::put32(d, 17592, 0);

    QByteArray file = d;
    file += QCryptographicHash::hash(d, QCryptographicHash::Md5).toHex();
    file += QByteArray(kFileSize - file.size(), '\0');
    return file;
}
