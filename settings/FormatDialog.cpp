#include "FormatDialog.h"

#include "RemovableDrives.h"
#include "ui_FormatDialog.h"

#include <QDebug>
#include <QMessageBox>

FormatDialog::FormatDialog(QWidget *parent, const QString &sysRoot)
    : QDialog(parent)
    , ui(new Ui::FormatDialog)
    , sys(sysRoot)
{
    ui->setupUi(this);
    ui->tableWidget->setColumnCount(5);
    ui->tableWidget->setHorizontalHeaderLabels({"Name", "Type", "Capacity", "Free Space", "Used Space"});
    fillTable();
}

FormatDialog::~FormatDialog()
{
    delete ui;
}

int FormatDialog::driveCount() const
{
    return ui->tableWidget->rowCount();
}

void FormatDialog::fillTable()
{
    const QVector<RemovableDrive> drives = removableDrives(sys);
    ui->tableWidget->setRowCount(drives.size());
    for (int row = 0; row < drives.size(); ++row) {
        const RemovableDrive &d = drives[row];
        qDebug() << "device = " << d.device;
        const QStringList cells = {d.name + QLatin1Char(' ') + d.rootPath, QStringLiteral("Removable"),
                                   gigabytes(d.capacity), gigabytes(d.free), gigabytes(d.capacity - d.free)};
        for (int col = 0; col < cells.size(); ++col)
            ui->tableWidget->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    ui->tableWidget->resizeColumnsToContents();
}

void FormatDialog::on_formatBtn_clicked()
{
    QMessageBox::information(this, windowTitle(),
                             QStringLiteral("Formatting drives is not offered by this viewer. Format the card in the "
                                            "camera or with your system's disk tool."));
}

void FormatDialog::on_reloadBtn_clicked()
{
    fillTable();
}

void FormatDialog::on_closeBtn_clicked()
{
    close();
}
