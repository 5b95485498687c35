#pragma once
#include <QStringList>

// `zidavova-tool frames SOURCE --entry N [--backward | --export] [--limit L]
// [--dump DIR]`: loads catalogue entry N and prints one JSON line per entry
// handed out by the matching next-frame operation; --dump writes the bytes
// of each channel's video entries to video-<ch>.es and of the audio entries
// to audio.es. Returns the exit code.
int framesCommand(const QStringList &args);
