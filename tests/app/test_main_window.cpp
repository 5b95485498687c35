// The main window's fixed size and the base-widget tree as a person sees it:
// where each panel sits, how big it is and which colour shows through.
#include "TalViewerMainDialog.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

// Readable failure messages for the rectangles compared below.
void PrintTo(const QRect &r, std::ostream *os)
{
    *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

static QWidget *part(TalViewerMainDialog &window, const char *name)
{
    QWidget *widget = window.findChild<QWidget *>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

static QRect rectInWindow(TalViewerMainDialog &window, const char *name)
{
    QWidget *widget = part(window, name);
    return widget ? QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()) : QRect();
}

static void showAndSettle(TalViewerMainDialog &window)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
}

// Whatever start path it is given, existing or not, the window comes up
// 1280x768 at least, modal, taking drops, and is the instance while it lives.
TEST(MainWindow, StartsAtItsFixedSizeWithAnyStartPath)
{
    for (const QString &path : {QString(), QStringLiteral("/no/such/card"), QDir::tempPath()}) {
        {
            TalViewerMainDialog window;
            EXPECT_EQ(TalViewerMainDialog::instance(), &window);
            window.setStartPath(path);
            showAndSettle(window);
            EXPECT_EQ(window.startPath().toStdString(), path.toStdString());
            EXPECT_TRUE(window.minimumSize() == QSize(1280, 768) && window.size() == QSize(1280, 768))
                << window.width() << "x" << window.height();
            EXPECT_EQ(window.windowTitle().toStdString(), "VIEWER");
            EXPECT_TRUE(window.isVisible() && window.isModal()) << path.toStdString();
            EXPECT_TRUE(window.acceptDrops() && part(window, "EventListBaseWidget")->acceptDrops());
        }
        EXPECT_EQ(TalViewerMainDialog::instance(), nullptr);
    }
}

// The map starts hidden, so the event list reaches down to the map toggle
// bar; colour: what shows through where no content widget covers it yet.
// Showing the map trades room with the event list, and hiding and showing
// the window again is not a first show: the map stays as it is.
TEST(MainWindow, PanelsSitWhereTheyBelongAndTheMapTradesRoomWithTheList)
{
    const struct { const char *name; QRect rect; const char *colour; /* where still bare */ } panels[] = {
        {"BaseWidget", {0, 0, 1280, 768}, nullptr},           {"TopMenuBaseWidget", {11, 11, 1258, 40}, nullptr},
        {"DisplayBaseWidget", {11, 57, 902, 484}, nullptr},   {"DisplayInfoBaseWidget", {14, 547, 895, 30}, "#000000"},
        {"TimeInfoBaseWidget", {14, 577, 895, 30}, nullptr}, {"GPSDetailInfoBaseWidget", {14, 607, 895, 80}, "#323232"},
        {"GPSInfoBaseWidget", {14, 687, 895, 30}, "#000000"}, {"ControlMenuBaseWidget", {14, 717, 895, 40}, nullptr},
        {"EventBaseWidget", {919, 57, 350, 700}, nullptr},    {"EventListBaseWidget", {919, 57, 350, 654}, nullptr},
        {"MapButtonBaseWidget", {919, 717, 350, 40}, "#808080"},
    };
    TalViewerMainDialog window;
    showAndSettle(window);
    const QImage shot = window.grab().toImage();
    for (const auto &panel : panels) {
        EXPECT_EQ(rectInWindow(window, panel.name), panel.rect) << panel.name;
        if (panel.colour) {
            EXPECT_EQ(QColor(shot.pixel(panel.rect.center())).name().toStdString(), panel.colour) << panel.name;
        }
    }
    QWidget *map = part(window, "MapBaseWidget");
    EXPECT_TRUE(map->isHidden());

    window.toggleMap();
    QApplication::processEvents();
    EXPECT_TRUE(map->isVisible());
    EXPECT_EQ(rectInWindow(window, "EventListBaseWidget"), QRect(919, 57, 350, 398));
    EXPECT_EQ(rectInWindow(window, "MapButtonBaseWidget"), QRect(919, 461, 350, 40));
    EXPECT_EQ(rectInWindow(window, "MapBaseWidget"), QRect(919, 507, 350, 250));
    window.hide();
    showAndSettle(window);
    EXPECT_TRUE(map->isVisible());
    window.toggleMap();
    QApplication::processEvents();
    EXPECT_FALSE(map->isVisible());
    EXPECT_EQ(rectInWindow(window, "EventListBaseWidget"), QRect(919, 57, 350, 654));
}
