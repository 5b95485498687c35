#pragma once
// The record-file camera's settings file Config/ZidavOva.cfg: 18216 bytes of
// settings, their MD5 as 32 lower-case hex characters, then 96 zero bytes.
#include <QByteArray>
#include <QString>

namespace SettingsImage {

constexpr int kDataSize = 18216;
constexpr int kFileSize = 18344;

QByteArray build(int channels, const QString &model);

} // namespace SettingsImage
