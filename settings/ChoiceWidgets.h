#pragma once
// Setting radios and combos from stored values without losing the values
// they cannot show: no radio is checked for a value without one, and a
// combo gets an "Unknown (n)" entry for a value none of its entries has.
#include <QComboBox>
#include <QRadioButton>

#include <initializer_list>

// Checks the radio of index, or none when index has no radio.
inline void checkRadio(std::initializer_list<QRadioButton *> radios, int index)
{
    int i = 0;
    for (QRadioButton *r : radios) {
        r->setAutoExclusive(false);
        r->setChecked(i++ == index);
        r->setAutoExclusive(true);
    }
}

// The index of the checked radio, otherwise when none is.
inline int checkedRadio(std::initializer_list<QRadioButton *> radios, int otherwise)
{
    int i = 0;
    for (QRadioButton *r : radios) {
        if (r->isChecked())
            return i;
        ++i;
    }
    return otherwise;
}

// Selects the entry whose data is value, adding one when there is none.
inline void selectValue(QComboBox *combo, int value)
{
    int i = combo->findData(value);
    if (i < 0) {
        combo->addItem(QStringLiteral("Unknown (%1)").arg(value), value);
        i = combo->count() - 1;
    }
    combo->setCurrentIndex(i);
}
