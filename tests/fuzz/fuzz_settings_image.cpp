// The camera settings formats on arbitrary bytes. The first byte chooses:
// even, the rest is a settings file as it stands (any size); odd, the rest
// is the 18216 bytes of settings (cut or zero-padded) given a matching
// digest, so the counted sections see every count. Also the setup block
// mapping on the first 431 bytes. Whatever loads must save and load back
// to the same image, and saving without an edit must change nothing.
#include "Config.h"
#include "PavonaConfig.h"
#include "SettingsImage.h"
#include "SetupBlock.h"

#include <QCryptographicHash>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray file(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if (data[0] & 1) {
        QByteArray settings = file.left(SettingsImage::DataSize);
        settings.append(QByteArray(SettingsImage::DataSize - settings.size(), '\0'));
        file = settings + QCryptographicHash::hash(settings, QCryptographicHash::Md5).toHex();
        file.append(QByteArray(SettingsImage::FileSize - file.size(), '\0'));
    }
    QByteArray image(SettingsImage::DataSize, '\0');
    auto *img = reinterpret_cast<unsigned char *>(image.data());
    const SettingsImage::LoadResult r = SettingsImage::parse(file, img);
    if (r.read) {
        QByteArray saved;
        // A loaded image only holds counts in bounds: it always saves, and
        // what it saves loads back faithfully as the same image.
        if (!SettingsImage::serialize(img, &saved, nullptr))
            abort();
        QByteArray again(SettingsImage::DataSize, '\0');
        const SettingsImage::LoadResult back = SettingsImage::parse(saved, reinterpret_cast<unsigned char *>(again.data()));
        if (!back.faithful || again != image)
            abort();
        const PavonaValues loaded = PavonaConfig::fromImage(img, PavonaValues());
        QByteArray copy = image;
        PavonaConfig::toImage(reinterpret_cast<unsigned char *>(copy.data()), loaded, loaded);
        if (copy != image)
            abort();
    }

    QByteArray block = file.left(SetupBlock::Size);
    block.append(QByteArray(SetupBlock::Size - block.size(), '\0'));
    static const ConfigValues base;
    const ConfigValues loaded = SetupBlock::load(block, base, file.mid(SetupBlock::Size, 4));
    QByteArray expected = block;
    expected[17] = char(34);
    if (SetupBlock::store(block, loaded, loaded) != expected)
        abort();
    return 0;
}
