#pragma once
// Erasing a record-file card's recordings and settings: the folders Config,
// App and record with their contents, and the marker file last, so a card
// whose erase stopped halfway is still recognised as a card.
#include <QString>
#include <QStringList>

// True when root holds the marker file .Pavona.cfg (a regular file).
bool isVerifiedCardRoot(const QString &root);

// Erases the card at root; refused (nothing touched) unless root is a
// verified card root. Returns what failed, empty when everything went.
QStringList eraseRecordCard(const QString &root);
