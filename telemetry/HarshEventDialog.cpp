#include "HarshEventDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>

namespace {

QSpinBox *milliG(int value, QWidget *parent)
{
    auto *box = new QSpinBox(parent);
    box->setRange(50, 8000);
    box->setSingleStep(50);
    box->setSuffix(QStringLiteral(" mg"));
    box->setValue(value);
    return box;
}

} // namespace

HarshEventDialog::HarshEventDialog(const HarshThresholds &t, QWidget *parent)
    : QDialog(parent), minDurationMs(t.minDurationMs)
{
    setWindowTitle(tr("Harsh events"));
    braking = milliG(t.brakingMilliG, this);
    acceleration = milliG(t.accelerationMilliG, this);
    impact = milliG(t.impactMilliG, this);
    auto *form = new QFormLayout(this);
    form->addRow(tr("Hard braking from"), braking);
    form->addRow(tr("Hard acceleration from"), acceleration);
    form->addRow(tr("Impact from"), impact);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::RestoreDefaults, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this, [this] {
        const HarshThresholds d;
        braking->setValue(d.brakingMilliG);
        acceleration->setValue(d.accelerationMilliG);
        impact->setValue(d.impactMilliG);
    });
}

HarshThresholds HarshEventDialog::thresholds() const
{
    HarshThresholds t;
    t.brakingMilliG = braking->value();
    t.accelerationMilliG = acceleration->value();
    t.impactMilliG = impact->value();
    t.minDurationMs = minDurationMs;
    return t;
}
