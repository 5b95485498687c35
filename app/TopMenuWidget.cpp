#include "TopMenuWidget.h"

#include "LogCategories.h"
#include "ui_TopMenuWidget.h"

#include <QDebug>
#include <QFileDialog>

TopMenuWidget::TopMenuWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TopMenuWidget)
{
    ui->setupUi(this);
    QPushButton *const all[LayoutButtonCount] = {ui->btn1X1_1, ui->btn1X1_2, ui->btn1X1_3, ui->btn1X1_4,
                                                 ui->btn1X1_5, ui->btn1X1_6, ui->btn1X1_7, ui->btn1X1_8,
                                                 ui->btn2X1,   ui->btn2X2,   ui->btn3X3};
    std::copy(std::begin(all), std::end(all), buttons);
    setChannelCount(1);
}

TopMenuWidget::~TopMenuWidget()
{
    delete ui;
}

QPushButton *TopMenuWidget::gridButton(int count) const
{
    if (count == 2)
        return ui->btn2X1;
    if (count == 3 || count == 4)
        return ui->btn2X2;
    if (count >= 5 && count <= 8)
        return ui->btn3X3;
    return nullptr;
}

void TopMenuWidget::setChannelCount(int count)
{
    channels = count;
    QPushButton *grid = gridButton(count);
    const int singles = grid ? count : 1;
    for (int i = 0; i < 8; ++i)
        buttons[i]->setVisible(i < singles);
    for (QPushButton *button : {ui->btn2X1, ui->btn2X2, ui->btn3X3})
        button->setVisible(button == grid);
    if (count == 2)
        setLayoutButtons(0, 1);
    else if (count == 3 || count == 4)
        setLayoutButtons(0, 2);
    else if (grid)
        setLayoutButtons(0, 3);
    else
        setLayoutButtons(0, 0);
}

void TopMenuWidget::setLayoutButtons(int paneIndex, int layout)
{
    for (QPushButton *button : buttons)
        button->setChecked(false);
    switch (layout) {
    case 0: {
        const int n = gridButton(channels) ? channels : 1;
        buttons[paneIndex >= 0 && paneIndex < n ? paneIndex : 0]->setChecked(true);
        break;
    }
    case 1: ui->btn2X1->setChecked(true); break;
    case 2: ui->btn2X2->setChecked(true); break;
    case 3: ui->btn3X3->setChecked(true); break;
    default: break;
    }
}

void TopMenuWidget::on_btn1X1_1_clicked() { setLayoutButtons(0, 0); }
void TopMenuWidget::on_btn1X1_2_clicked() { setLayoutButtons(1, 0); }
void TopMenuWidget::on_btn1X1_3_clicked() { setLayoutButtons(2, 0); }
void TopMenuWidget::on_btn1X1_4_clicked() { setLayoutButtons(3, 0); }
void TopMenuWidget::on_btn1X1_5_clicked() { setLayoutButtons(4, 0); }
void TopMenuWidget::on_btn1X1_6_clicked() { setLayoutButtons(5, 0); }
void TopMenuWidget::on_btn1X1_7_clicked() { setLayoutButtons(6, 0); }
void TopMenuWidget::on_btn1X1_8_clicked() { setLayoutButtons(7, 0); }
void TopMenuWidget::on_btn2X1_clicked() { setLayoutButtons(0, 1); }
void TopMenuWidget::on_btn2X2_clicked() { setLayoutButtons(0, 2); }
void TopMenuWidget::on_btn3X3_clicked() { setLayoutButtons(0, 3); }

void TopMenuWidget::on_btnOpen_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Browse For Folder"), QString(),
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    qCDebug(lcShell, "select folder :: %s", qPrintable(folder));
    emit folderChosen(folder);
}

void TopMenuWidget::on_btnPrint_clicked()
{
    emit printRequested();
}

void TopMenuWidget::on_btnSmart_clicked()
{
    emit smartBackupRequested();
}

void TopMenuWidget::on_btnSetup_clicked()
{
    emit setupRequested();
}

void TopMenuWidget::on_btnAVI_clicked()
{
    emit videoBackupRequested();
}

void TopMenuWidget::on_btnCapture_clicked()
{
    emit captureRequested();
}

void TopMenuWidget::on_btnFullScreen_clicked()
{
    emit fullScreenRequested();
}
