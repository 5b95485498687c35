#include "TalViewerMainDialog.h"

#include "ui_TalViewerMainDialog.h"

TalViewerMainDialog *TalViewerMainDialog::self = nullptr;

TalViewerMainDialog::TalViewerMainDialog(QWidget *parent)
    : QDialog(parent)
{
    // Children created below may already ask for the main window.
    self = this;
    ui = new Ui::TalViewerMainDialog;
    ui->setupUi(this);
    setAcceptDrops(true);
    installEventFilter(this);
    setWindowFlags(Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
}

TalViewerMainDialog::~TalViewerMainDialog()
{
    delete ui;
    // Callers must not reach a window that is gone.
    if (self == this)
        self = nullptr;
}

TalViewerMainDialog *TalViewerMainDialog::instance()
{
    return self;
}

void TalViewerMainDialog::setStartPath(const QString &path)
{
    startPathArgument = path;
}

QString TalViewerMainDialog::startPath() const
{
    return startPathArgument;
}

void TalViewerMainDialog::toggleMap()
{
    ui->MapBaseWidget->setVisible(ui->MapBaseWidget->isHidden());
}

bool TalViewerMainDialog::eventFilter(QObject *watched, QEvent *event)
{
    return QDialog::eventFilter(watched, event);
}

void TalViewerMainDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Restoring from the task bar shows the window again; only the first show
    // sets it up.
    if (initialised)
        return;
    // The map starts hidden and the event list takes its room.
    toggleMap();
    initialised = true;
}
