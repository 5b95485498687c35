#pragma once
// The bar across the top of the window: the layout buttons (only those that
// make sense for the loaded channel count, the current layout's checked) and
// the commands Open, Setup, Print, video backup, Smart Backup, capture and
// full screen.
#include <QWidget>

class QPushButton;

namespace Ui {
class TopMenuWidget;
}

class TopMenuWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int LayoutButtonCount = 11;

    explicit TopMenuWidget(QWidget *parent = nullptr);
    ~TopMenuWidget() override;

    void setChannelCount(int count);
    int channelCount() const { return channels; }
    // Checks the button of layout (0 1X1 of paneIndex, 1 2X1, 2 2X2, 3 3X3).
    void setLayoutButtons(int paneIndex, int layout);
    // btn1X1_1 ... btn1X1_8, btn2X1, btn2X2, btn3X3.
    QPushButton *layoutButton(int i) const { return buttons[i]; }

signals:
    // A folder was chosen with Open.
    void folderChosen(const QString &path);
    void fullScreenRequested();
    void printRequested();
    void smartBackupRequested();
    void setupRequested();
    void videoBackupRequested();
    void captureRequested();

private slots:
    void on_btn1X1_1_clicked();
    void on_btn1X1_2_clicked();
    void on_btn1X1_3_clicked();
    void on_btn1X1_4_clicked();
    void on_btn1X1_5_clicked();
    void on_btn1X1_6_clicked();
    void on_btn1X1_7_clicked();
    void on_btn1X1_8_clicked();
    void on_btn2X1_clicked();
    void on_btn2X2_clicked();
    void on_btn3X3_clicked();
    void on_btnOpen_clicked();
    void on_btnPrint_clicked();
    void on_btnSmart_clicked();
    void on_btnSetup_clicked();
    void on_btnAVI_clicked();
    void on_btnCapture_clicked();
    void on_btnFullScreen_clicked();

private:
    // The grid button that belongs to a channel count, or null.
    QPushButton *gridButton(int count) const;

    Ui::TopMenuWidget *ui;
    QPushButton *buttons[LayoutButtonCount];
    int channels = 1;
};
