#pragma once
// The record-file camera's settings image: Config/ZidavOva.cfg on the card
// and the viewer's copy <Documents>/ZidavOva/ZidavOva.cfg. The file is
// exactly 18344 bytes: 18216 bytes of settings, their MD5 as 32 lower-case
// hex characters, and 96 zero bytes. The settings move between file and
// memory in thirteen sections; every other byte of a written file is zero.
// The in-memory image uses the file's offsets.
//
// Loading never reads outside the image: every count is checked against the
// room its entries have, and a count beyond it makes the image "not
// faithful" (the step is skipped). Load and save copy the same sections, so
// for a faithful image they are exact inverses.
#include <QByteArray>
#include <QString>
#include <QVector>

namespace SettingsImage {

constexpr int DataSize = 18216;
constexpr int FileSize = 18344;
constexpr int DigestOffset = 18216;
constexpr qint64 MaxFileSize = 2 * 1024 * 1024;

struct LoadResult {
    bool read = false;        // the sections were taken from the file
    bool faithful = false;    // exact size, digest matches, every count in bounds
    QString reason;           // why not read or not faithful
};

// Fills image (DataSize bytes, zeroed first) from the bytes of a file.
// Sections whose count is out of bounds are skipped; the result tells.
LoadResult parse(const QByteArray &file, unsigned char *image);
// Reads the file at path (refused unless exactly FileSize bytes).
LoadResult loadFile(const QString &path, unsigned char *image);

// The file for image: false (and reason set) when a count of the image is
// beyond its bound, since such an image cannot be written faithfully.
bool serialize(const unsigned char *image, QByteArray *file, QString *reason);

// Which bytes of image the sections keep, by the image's own counts
// (1 kept, 0 written as zero).
QVector<char> keptBytes(const unsigned char *image);

// <Documents>/ZidavOva/ZidavOva.cfg for variant codes 1..3,
// <Documents>/ZidavOva/ZidavOvaTest.cfg for 255, empty for any other.
QString viewerCopyPath(int variant);

// The viewer copy of variant into image; a zeroed image when that fails.
int loadViewerCopy(int variant, unsigned char *image);

} // namespace SettingsImage

// Direction 0 loads the settings image file at path into image (DataSize
// bytes); any other direction writes image to path (through QSaveFile, so
// an earlier file is replaced only by a complete one). 0 on success, -1 on
// failure. A failed load leaves image all zero.
int PVNA_Msvr2Viewer(const char *path, unsigned char *image, int direction);
