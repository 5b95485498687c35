#pragma once
// The "Capture" window: saves the current picture of chosen channels at
// their full video resolution, or a screenshot of the whole window, as BMP,
// PNG or JPG. An existing file is kept unless "Overwrite" is checked; every
// file is written whole or not at all, and the window says what was saved,
// skipped or failed.
#include <QDialog>
#include <QVector>

class TalGLWidget;

namespace Ui {
class CaptureDialog;
}

class CaptureDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CaptureDialog(QWidget *parent = nullptr);
    ~CaptureDialog() override;

    // The base name of the files; the folder shown is the capture folder.
    void setFileName(const QString &name);
    void setFolder(const QString &folder);
    QString folder() const;
    // Where whole-window captures go (the documents folder's ZidavOva/BMP).
    void setWindowFolder(const QString &folder) { windowFolder = folder; }
    // The views of the panes in use, in pane order, and the window whose
    // top-level window a whole-window capture grabs.
    void setPanes(const QVector<TalGLWidget *> &views) { panes = views; }
    void setWindowToGrab(QWidget *window) { grabbed = window; }

    // The files the last Save wrote.
    QStringList savedFiles() const { return saved; }
    QString statusText() const;

signals:
    void folderChosen(const QString &folder);

private slots:
    void on_checkBoxAll_stateChanged(int arg1);
    void on_comboBox_currentIndexChanged(int index);
    void on_saveToBtn_clicked();
    void on_closeBtn_clicked();
    void on_checkBoxFront_stateChanged(int state);
    void on_checkBoxLeft_stateChanged(int state);
    void on_checkBoxBack_stateChanged(int state);
    void on_checkBoxRight_stateChanged(int state);
    void on_radioButton1_clicked(bool checked);
    void on_radioButtonAll_clicked(bool checked);
    void on_saveBtn_clicked();

private:
    // Keeps one channel box checked.
    void keepOneChecked(int box, int state);
    QString extension() const;
    // Writes image to path through a temporary file: "" when saved, else why not.
    QString save(const QImage &image, const QString &path) const;

    Ui::CaptureDialog *ui;
    int fileType = 0; // 0 BMP, 1 PNG, 2 JPG
    QVector<TalGLWidget *> panes;
    QWidget *grabbed = nullptr;
    QString windowFolder;
    QStringList saved;
};
