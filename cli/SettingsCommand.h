#pragma once
#include <QJsonObject>
#include <QStringList>

struct CardSettings;
class Reader;

// `zidavova-tool settings SOURCE [--password TEXT]`: prints the camera
// settings of a card as one JSON object, the values named and shown as the
// setup dialogs show them. Never writes. Returns the exit code: 0 settings
// read (faithful or not, with the reason), 1 none or unreadable, 2 refused
// arguments.
int settingsCommand(const QStringList &args);

// The JSON document of the settings read from the reader's open source.
QJsonObject settingsJson(const Reader &reader, const CardSettings &settings);
