#pragma once
// The grid of video panes in the display area: one channel alone (1X1), a
// pair side by side (2X1), four (2X2) or nine (3X3). Routes each decoded
// frame to its channel's view, draws the grid lines and the red frame of the
// selected pane, and switches between grid and single view on double-click.
#include "CatalogueItems.h"

#include <QRect>
#include <QVector>
#include <QWidget>

class BackgroundPane;
class H26xFrameItem;
class Pane;
class TalGLWidget;

class PaneManager : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxPanes = 9;

    explicit PaneManager(QWidget *parent = nullptr);

    // Replaces all panes: count of them (at most 9) from specs, the rest
    // fillers. Keeps the selection and the layout to return to when they
    // still fit the new count.
    void rebuild(int count, const QVector<PaneSpec> &specs);
    // 0 1X1 (pane index), 1 2X1 (again: the next pair), 2 2X2, 3 3X3.
    void changeLayout(int layout, int index);

    int layout() const { return currentLayout; }
    int previousLayout() const { return layoutBeforeSingle; }
    int current() const { return currentPane; }
    int paneCount() const { return panesInUse; }
    int defaultLayout() const { return layoutForCount; }
    QRect cell(int index) const;
    QRect frame() const { return outerFrame; }
    TalGLWidget *view(int index) const;
    TalGLWidget *currentView() const { return view(currentPane); }
    // True once the pane's channel has delivered a picture since the rebuild.
    bool hasVideo(int index) const;

    // Cells and outer frame of a layout in a W x H area. The pair of 2X1
    // starts at current with its lowest bit cleared.
    static void cellsFor(int layout, int current, int width, int height, QRect cells[MaxPanes], QRect *frame);

signals:
    // The grid now shows this layout with this pane selected; the toolbar
    // checks the matching button.
    void layoutShown(int paneIndex, int layout);
    // The panes shown changed (layout, selected pane).
    void viewChanged(int layout, int current);
    // Another pane became the selected one.
    void currentChanged(int paneIndex);

public slots:
    void paneDoubleClicked(int paneIndex);
    void paneClicked(int paneIndex);
    // Takes ownership of item: it goes to its channel's view, or is destroyed
    // when no pane shows that channel.
    void decodedFrame(H26xFrameItem *item);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();
    int pairStart() const;
    int clampIndex(int index) const;

    int currentLayout = 0;
    int layoutBeforeSingle = 0;
    int currentPane = 0;
    int panesInUse = MaxPanes;
    int layoutForCount = 0;
    Pane *panes[MaxPanes] = {};
    BackgroundPane *backgrounds[MaxPanes] = {};
    QRect cells[MaxPanes];
    QRect outerFrame;
    // What viewChanged last announced.
    int shownLayout = -1;
    int shownPane = -1;
};
