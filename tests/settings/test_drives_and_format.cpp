// The removable flag of a volume's disk read from a /sys laid out here, and
// erasing a card: only a card root, links not followed, the marker last.
#include "CardFormat.h"
#include "ProcessRun.h"
#include "RemovableDrives.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(RemovableDrives, TheFlagOfThePartitionsDiskDecides)
{
    QTemporaryDir sys;
    auto disk = [&](const QString &path, const char *flag) {
        QDir().mkpath(sys.filePath(path));
        writeFile(sys.filePath(path + "/removable"), flag);
    };
    QDir().mkpath(sys.filePath("class/block"));
    disk("devices/usb/block/sdb", "1\n");
    QDir().mkpath(sys.filePath("devices/usb/block/sdb/sdb1"));
    disk("devices/pci/block/nvme0n1", "0\n");
    QDir().mkpath(sys.filePath("devices/pci/block/nvme0n1/nvme0n1p2"));
    disk("devices/mmc/block/mmcblk0", "1\n");
    for (const char *link : {"sdb", "sdb/sdb1", "nvme0n1/nvme0n1p2", "mmcblk0"}) {
        const QString name = QString(link).section('/', -1);
        const QString target = QString(link).contains("sdb") ? "devices/usb/block/" : QString(link).contains("nvme") ? "devices/pci/block/" : "devices/mmc/block/";
        QFile::link(sys.filePath(target + link), sys.filePath("class/block/" + name));
    }
    const struct {
        const char *device;
        bool removable;
    } cases[] = {{"/dev/sdb1", true}, {"/dev/sdb", true}, {"/dev/nvme0n1p2", false}, {"/dev/mmcblk0", true},
        {"/dev/sdz9", false}, {"tmpfs", false}, {"/dev/../etc/passwd", false}};
    for (const auto &c : cases)
        EXPECT_EQ(deviceIsRemovable(c.device, sys.path()), c.removable) << c.device;
    EXPECT_EQ(gigabytes(3LL * 1024 * 1024 * 1024 / 2), "1.50 GB");
}

TEST(CardFormat, ErasesOnlyACardRootAndTheMarkerLast)
{
    QTemporaryDir tmp;
    const QString card = tmp.filePath("card"), outside = tmp.filePath("outside");
    QDir().mkpath(card + "/record");
    QDir().mkpath(card + "/Config");
    QDir().mkpath(outside);
    writeFile(card + "/record/REC_1.mp4", "x");
    writeFile(card + "/Config/ZidavOva.cfg", "x");
    writeFile(card + "/keep.txt", "x");
    writeFile(outside + "/precious", "x");
    QFile::link(outside, card + "/App");   // a link out of the card

    // No marker: refused, nothing touched.
    EXPECT_FALSE(eraseRecordCard(card).isEmpty());
    EXPECT_TRUE(QFile::exists(card + "/record/REC_1.mp4"));

    writeFile(card + "/.Pavona.cfg", "");
    EXPECT_TRUE(eraseRecordCard(card).isEmpty());
    EXPECT_EQ(QDir(card).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
              QStringList{"keep.txt"});
    EXPECT_TRUE(QFile::exists(outside + "/precious"));
}
