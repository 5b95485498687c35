#pragma once
#include <QString>

// Display text of an event-list type code: 1 "Event", 2 "DE", 3 "PE",
// 4 "Parking", 5 "ForceEvent"; every other code an empty text.
QString eventKindName(int code);
