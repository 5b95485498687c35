#include "PasswordDialog.h"

#include "LogCategories.h"
#include "ui_PasswordDialog.h"

#include <QDebug>
#include <QMessageBox>
#include <QPointer>

PasswordDialog::PasswordDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::PasswordDialog)
{
    ui->setupUi(this);
}

PasswordDialog::~PasswordDialog()
{
    delete ui;
}

void PasswordDialog::setPassword(const QByteArray &bytes, int count, PasswordKind kind)
{
    stored = bytes;
    storedCount = count;
    passwordKind = kind;
    accepted = false;
}

PasswordPrompt PasswordDialog::prompt(QWidget *parent)
{
    QPointer<QWidget> owner(parent);
    return [owner](PasswordKind kind, const QByteArray &expected, int length) {
        PasswordDialog dialog(owner.data());
        dialog.setPassword(expected, length, kind);
        dialog.exec();
        return dialog.result();
    };
}

void PasswordDialog::on_pushButton_pressed()
{
    check();
}

void PasswordDialog::on_lineEdit_editingFinished()
{
    // Return in the line edit also presses the default button; one check is enough.
    if (ui->lineEdit->hasFocus())
        check();
}

void PasswordDialog::check()
{
    // A message box takes the focus and ends the line edit's editing; that
    // must not check the same text a second time.
    if (checking)
        return;
    checking = true;
    const QByteArray typed = ui->lineEdit->text().toUtf8().left(20);
    // The diagnostic line shows the length, never the password itself.
    qCDebug(lcShell, "%s %d", QByteArray(typed.size(), '*').constData(), int(typed.size()));
    accepted = passwordMatches(passwordKind, typed, stored, storedCount);
    qCDebug(lcShell, accepted ? "PASS" : "FAIL");
    if (accepted) {
        checking = false;
        accept();
        return;
    }
    QMessageBox::warning(this, windowTitle(), QStringLiteral("Incorrect password!!"), QMessageBox::Ok);
    ui->lineEdit->selectAll();
    checking = false;
}
