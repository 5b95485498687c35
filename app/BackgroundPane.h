#pragma once
// The logo shown in a cell until its channel delivers its first picture; it
// passes clicks and double-clicks on to the grid like the video view does.
#include <QPixmap>
#include <QWidget>

namespace Ui {
class BackgroundPane;
}

class BackgroundPane : public QWidget
{
    Q_OBJECT

public:
    BackgroundPane(int index, QWidget *parent = nullptr);
    ~BackgroundPane() override;

    int index() const { return paneIndex; }
    bool hasVideo = false;

signals:
    void doubleClicked(int index);
    void clicked(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    Ui::BackgroundPane *ui;
    int paneIndex;
    QPixmap logo;
};
