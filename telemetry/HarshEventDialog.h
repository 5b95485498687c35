#pragma once
// Edits the thresholds of harsh-event detection, in milli-g.
#include "HarshEvents.h"

#include <QDialog>

class QSpinBox;

class HarshEventDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HarshEventDialog(const HarshThresholds &thresholds, QWidget *parent = nullptr);
    HarshThresholds thresholds() const;

private:
    QSpinBox *braking;
    QSpinBox *acceleration;
    QSpinBox *impact;
    int minDurationMs;
};
