#pragma once
// The computer's removable drives with their sizes. Formatting a drive is
// not something this viewer does: the Format button says so.
#include <QDialog>

namespace Ui {
class FormatDialog;
}

class FormatDialog : public QDialog
{
    Q_OBJECT

public:
    // sysRoot: where the disks' removable flags are read (tests use their own).
    explicit FormatDialog(QWidget *parent = nullptr, const QString &sysRoot = QStringLiteral("/sys"));
    ~FormatDialog() override;

    int driveCount() const;

private slots:
    void on_formatBtn_clicked();
    void on_reloadBtn_clicked();
    void on_closeBtn_clicked();

private:
    void fillTable();

    Ui::FormatDialog *ui;
    QString sys;
};
