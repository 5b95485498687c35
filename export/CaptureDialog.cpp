#include "CaptureDialog.h"

#include "PanePicture.h"
#include "ui_CaptureDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace {

const char *const Formats[3] = {"BMP", "PNG", "JPG"};
const char *const Extensions[3] = {".bmp", ".png", ".jpg"};

} // namespace

CaptureDialog::CaptureDialog(QWidget *parent) : QDialog(parent), ui(new Ui::CaptureDialog)
{
    ui->setupUi(this);
}

CaptureDialog::~CaptureDialog()
{
    delete ui;
}

void CaptureDialog::setFileName(const QString &name)
{
    ui->lineEditFileName->setText(name);
}

void CaptureDialog::setFolder(const QString &folder)
{
    ui->lineEditPath->setText(QDir::toNativeSeparators(folder));
}

QString CaptureDialog::folder() const
{
    return QDir::fromNativeSeparators(ui->lineEditPath->text());
}

QString CaptureDialog::statusText() const
{
    return ui->labelStatus->text();
}

void CaptureDialog::on_checkBoxAll_stateChanged(int checked)
{
    ui->checkBoxFront->setChecked(true);
    for (QCheckBox *box : {ui->checkBoxBack, ui->checkBoxLeft, ui->checkBoxRight})
        box->setChecked(checked == Qt::Checked);
}

void CaptureDialog::keepOneChecked(int box, int state)
{
    QCheckBox *const boxes[4] = {ui->checkBoxFront, ui->checkBoxBack, ui->checkBoxLeft, ui->checkBoxRight};
    if (state != Qt::Unchecked)
        return;
    for (QCheckBox *b : boxes)
        if (b->isChecked())
            return;
    boxes[box]->setChecked(true);
}

void CaptureDialog::on_checkBoxFront_stateChanged(int state) { keepOneChecked(0, state); }
void CaptureDialog::on_checkBoxBack_stateChanged(int state) { keepOneChecked(1, state); }
void CaptureDialog::on_checkBoxLeft_stateChanged(int state) { keepOneChecked(2, state); }
void CaptureDialog::on_checkBoxRight_stateChanged(int state) { keepOneChecked(3, state); }

void CaptureDialog::on_radioButton1_clicked(bool checked)
{
    if (checked)
        ui->groupBox->setEnabled(true);
}

void CaptureDialog::on_radioButtonAll_clicked(bool checked)
{
    if (checked)
        ui->groupBox->setEnabled(false);
}

void CaptureDialog::on_comboBox_currentIndexChanged(int index)
{
    fileType = qBound(0, index, 2);
}

QString CaptureDialog::extension() const
{
    return QString::fromLatin1(Extensions[fileType]);
}

void CaptureDialog::on_saveToBtn_clicked()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("Browse For Folder"), folder());
    if (chosen.isEmpty())
        return;
    setFolder(chosen);
    emit folderChosen(chosen);
}

void CaptureDialog::on_closeBtn_clicked()
{
    close();
}

QString CaptureDialog::save(const QImage &image, const QString &path) const
{
    if (QFileInfo::exists(path) && !ui->checkBoxOverwrite->isChecked())
        return tr("exists");
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return tr("cannot create the folder");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, Formats[fileType]);
    if (!writer.write(image)) {
        file.cancelWriting();
        return writer.errorString();
    }
    return file.commit() ? QString() : file.errorString();
}

void CaptureDialog::on_saveBtn_clicked()
{
    saved.clear();
    QStringList skipped, failed;
    const QString name = ui->lineEditFileName->text().trimmed();
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
        ui->labelStatus->setText(tr("Enter a file name (without folders)."));
        return;
    }
    auto report = [&](const QString &path, const QString &error) {
        const QString shown = QDir::toNativeSeparators(path);
        if (error.isEmpty())
            saved.append(path);
        else if (error == tr("exists"))
            skipped.append(shown);
        else
            failed.append(tr("%1 (%2)").arg(shown, error));
    };
    if (ui->radioButtonAll->isChecked()) {
        const QString path = QDir(windowFolder).filePath(name + QStringLiteral("-all") + extension());
        QWidget *window = grabbed ? grabbed->window() : nullptr;
        report(path, window ? save(window->grab().toImage(), path) : tr("no window"));
    } else {
        QCheckBox *const boxes[4] = {ui->checkBoxFront, ui->checkBoxBack, ui->checkBoxLeft, ui->checkBoxRight};
        for (int i = 0; i < panes.size() && i < 4; ++i) {
            if (!boxes[i]->isChecked())
                continue;
            const QString path = QDir(folder()).filePath(QStringLiteral("%1-%2").arg(name).arg(i) + extension());
            const QImage picture = panePicture(panes[i]);
            // A pane that never showed a picture has nothing to save.
            if (picture.isNull())
                failed.append(tr("channel %1 shows no picture").arg(i));
            else
                report(path, save(picture, path));
        }
    }
    QStringList lines;
    if (!saved.isEmpty()) {
        QStringList shown;
        for (const QString &p : qAsConst(saved))
            shown.append(QDir::toNativeSeparators(p));
        lines.append(tr("Saved: %1").arg(shown.join(QStringLiteral(", "))));
    }
    if (!skipped.isEmpty())
        lines.append(tr("Not replaced (Overwrite is off): %1").arg(skipped.join(QStringLiteral(", "))));
    if (!failed.isEmpty())
        lines.append(tr("Failed: %1").arg(failed.join(QStringLiteral("; "))));
    if (lines.isEmpty())
        lines.append(tr("Nothing to save."));
    ui->labelStatus->setText(lines.join(QLatin1Char('\n')));
}
