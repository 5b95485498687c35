#include "PaneManager.h"

#include "BackgroundPane.h"
#include "H26xFrameItem.h"
#include "Pane.h"
#include "TalGLWidget.h"

#include <QPainter>

namespace {

int layoutForPaneCount(int count)
{
    if (count > 4)
        return 3;
    if (count >= 3)
        return 2;
    if (count == 2)
        return 1;
    return 0;
}

// Rectangle from inclusive left, top, right, bottom.
QRect edges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

PaneManager::PaneManager(QWidget *parent)
    : QWidget(parent)
{
}

void PaneManager::cellsFor(int layout, int current, int W, int H, QRect cells[MaxPanes], QRect *frame)
{
    for (int i = 0; i < MaxPanes; ++i)
        cells[i] = QRect();
    switch (layout) {
    case 0:
        cells[current] = edges(2, 2, W - 3, H - 3);
        *frame = edges(1, 1, W - 2, H - 2);
        break;
    case 1: {
        const int p = current & ~1;
        const int h = W / 2;
        const int q = H / 4 + 2;
        cells[p] = edges(2, q, h - 3, q + H / 2 - 5);
        if (p + 1 < MaxPanes)
            cells[p + 1] = edges(h, q, 2 * h - 5, q + H / 2 - 5);
        *frame = edges(1, H / 4 + 1, 2 * h - 4, H / 4 + 1 + H / 2 - 3);
        break;
    }
    case 2: {
        const int h = W / 2, v = H / 2;
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < 2; ++c)
                cells[2 * r + c] = QRect(c ? h : 2, r ? v : 2, h - 4, v - 4);
        }
        *frame = edges(1, 1, 2 * h - 4, 2 * v - 4);
        break;
    }
    default: {
        const int t = W / 3, u = H / 3;
        const int lefts[] = {2, t, 2 * t - 2};
        const int tops[] = {2, u, 2 * u - 2};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                cells[3 * r + c] = QRect(lefts[c], tops[r], t - 4, u - 4);
        }
        *frame = edges(1, 1, 3 * t - 6, 3 * u - 6);
        break;
    }
    }
}

int PaneManager::clampIndex(int index) const
{
    return index >= 0 && index < panesInUse ? index : 0;
}

int PaneManager::pairStart() const
{
    return currentPane & ~1;
}

void PaneManager::rebuild(int count, const QVector<PaneSpec> &specs)
{
    for (int i = 0; i < MaxPanes; ++i) {
        delete panes[i];
        delete backgrounds[i];
    }
    panesInUse = qBound(1, qMin(count, int(specs.size())), int(MaxPanes));
    layoutForCount = currentLayout = layoutForPaneCount(panesInUse);
    currentPane = clampIndex(currentPane);
    // A single view returns to a grid that the new count can fill.
    layoutBeforeSingle = qMin(layoutBeforeSingle, layoutForCount);
    for (int i = 0; i < MaxPanes; ++i) {
        if (i < specs.size() && i < panesInUse)
            panes[i] = new Pane(specs[i].channel, specs[i].width, specs[i].height, this);
        else if (i < panesInUse) // no spec at all: the default single pane
            panes[i] = new Pane(i, 1280, 720, this);
        else
            panes[i] = new Pane(i, 0, 0, this);
        backgrounds[i] = new BackgroundPane(i, this);
        connect(panes[i]->view(), &TalGLWidget::doubleClicked, this, &PaneManager::paneDoubleClicked);
        connect(panes[i]->view(), &TalGLWidget::clicked, this, &PaneManager::paneClicked);
        connect(backgrounds[i], &BackgroundPane::doubleClicked, this, &PaneManager::paneDoubleClicked);
        connect(backgrounds[i], &BackgroundPane::clicked, this, &PaneManager::paneClicked);
        panes[i]->hide();
        backgrounds[i]->hide();
    }
    relayout();
    update();
}

void PaneManager::relayout()
{
    if (!panes[0])
        return;
    cellsFor(currentLayout, currentPane, width(), height(), cells, &outerFrame);
    for (int i = 0; i < MaxPanes; ++i) {
        // Only panes in use are placed or shown.
        const bool shown = i < panesInUse && cells[i].isValid();
        if (shown) {
            panes[i]->setGeometry(cells[i]);
            backgrounds[i]->setGeometry(cells[i]);
        }
        panes[i]->setVisible(shown);
        backgrounds[i]->setVisible(shown && !backgrounds[i]->hasVideo);
        if (shown)
            backgrounds[i]->raise();
    }
    if (currentLayout != shownLayout || currentPane != shownPane) {
        shownLayout = currentLayout;
        shownPane = currentPane;
        emit viewChanged(currentLayout, currentPane);
    }
}

void PaneManager::changeLayout(int layout, int index)
{
    if (layout == 0) {
        currentPane = clampIndex(index);
    } else if (layout == 1 && currentLayout == 1) {
        const int next = (currentPane + 2) / 2 * 2;
        currentPane = next + 1 < panesInUse ? next : 0;
    } else if (layout == 1) {
        // The pair must lie wholly inside the grid.
        if (pairStart() + 1 >= panesInUse)
            currentPane = 0;
    }
    currentLayout = qBound(0, layout, 3);
    relayout();
    update();
    // Buttons, layout keys and double-clicks all end here: the toolbar
    // checks the button of what is shown.
    emit layoutShown(currentPane, currentLayout);
}

void PaneManager::paneDoubleClicked(int paneIndex)
{
    if (currentLayout == 0) {
        changeLayout(layoutBeforeSingle, currentPane);
        return;
    }
    currentPane = clampIndex(paneIndex);
    layoutBeforeSingle = currentLayout;
    currentLayout = 0;
    relayout();
    update();
    emit layoutShown(currentPane, 0);
}

void PaneManager::paneClicked(int paneIndex)
{
    if (paneIndex == currentPane || paneIndex < 0 || paneIndex >= panesInUse)
        return;
    currentPane = paneIndex;
    relayout();
    update();
    emit currentChanged(currentPane);
}

void PaneManager::decodedFrame(H26xFrameItem *item)
{
    if (!item)
        return;
    const int channel = item->record().channel;
    if (channel >= panesInUse || !panes[channel]) {
        delete item;
        return;
    }
    panes[channel]->view()->updateView(item);
    backgrounds[channel]->hasVideo = true;
    backgrounds[channel]->hide();
}

QRect PaneManager::cell(int index) const
{
    return index >= 0 && index < MaxPanes ? cells[index] : QRect();
}

TalGLWidget *PaneManager::view(int index) const
{
    return index >= 0 && index < MaxPanes && panes[index] ? panes[index]->view() : nullptr;
}

bool PaneManager::hasVideo(int index) const
{
    return index >= 0 && index < MaxPanes && backgrounds[index] && backgrounds[index]->hasVideo;
}

void PaneManager::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
}

void PaneManager::paintEvent(QPaintEvent *)
{
    if (!panes[0])
        return;
    QPainter painter(this);
    QPen pen(Qt::white, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter.setPen(pen);
    const QRect &f = outerFrame;
    switch (currentLayout) {
    case 1:
        if (cells[pairStart() + 1].isValid()) {
            const int x = cells[pairStart() + 1].left() - 1;
            painter.drawLine(x, f.top(), x, f.bottom());
        }
        break;
    case 2:
        painter.drawLine(f.left(), cells[3].top() - 1, f.right() - f.left() + 1, cells[3].top() - 1);
        painter.drawLine(cells[1].left() - 1, f.top(), cells[1].left() - 1, f.bottom() - f.top() + 1);
        break;
    case 3:
        for (int row : {3, 6})
            painter.drawLine(f.left(), cells[row].top(), f.right() - f.left() + 1, cells[row].top());
        for (int column : {1, 2})
            painter.drawLine(cells[column].left(), f.top(), cells[column].left(), f.bottom() - f.top() + 1);
        break;
    default:
        break;
    }
    painter.drawRect(f);
    if (cells[currentPane].isValid()) {
        pen.setColor(Qt::red);
        painter.setPen(pen);
        painter.drawRect(cells[currentPane]);
    }
}
