#pragma once
// Asks for the password of a locked card, recording or archive. The caller
// hands in the stored bytes; the dialog closes once the typed text matches
// them and tells a wrong entry with a message box.
#include "PasswordCheck.h"

#include <QByteArray>
#include <QDialog>

namespace Ui {
class PasswordDialog;
}

class PasswordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PasswordDialog(QWidget *parent = nullptr);
    ~PasswordDialog() override;

    // The stored bytes (count of them are compared) and how they are kept;
    // clears the result.
    void setPassword(const QByteArray &bytes, int count, PasswordKind kind = PasswordKind::Card);
    // True once a matching password was entered.
    bool result() const { return accepted; }

    // The catalogue's prompt: one modal dialog per request, parented to parent.
    static PasswordPrompt prompt(QWidget *parent);

private slots:
    void on_pushButton_pressed();
    void on_lineEdit_editingFinished();

private:
    void check();

    Ui::PasswordDialog *ui;
    QByteArray stored;
    int storedCount = 0;
    PasswordKind passwordKind = PasswordKind::Card;
    bool accepted = false;
    bool checking = false;
};
