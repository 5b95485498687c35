// The main window's fixed size and the base-widget tree as a person sees it:
// where each panel sits, how big it is and which colour shows through.
#include "TalViewerMainDialog.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages for the Qt values compared below.
void PrintTo(const QRect &r, std::ostream *os)
{
    *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}
void PrintTo(const QSize &s, std::ostream *os)
{
    *os << s.width() << "x" << s.height();
}

namespace {

struct Panel
{
    const char *name;
    QRect rect; // in window coordinates
    QRgb colour; // what shows through where no content widget covers it yet
    bool bare;
};

const QRgb black = qRgb(0, 0, 0);

QWidget *part(TalViewerMainDialog &window, const char *name)
{
    QWidget *widget = window.findChild<QWidget *>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QRect rectInWindow(TalViewerMainDialog &window, QWidget *widget)
{
    return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
}

void showAndSettle(TalViewerMainDialog &window)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
}

} // namespace

TEST(MainWindow, Starts1280x768AtLeastAndIsTheInstance)
{
    TalViewerMainDialog window;
    EXPECT_EQ(TalViewerMainDialog::instance(), &window);
    showAndSettle(window);
    EXPECT_EQ(window.minimumSize(), QSize(1280, 768));
    EXPECT_EQ(window.size(), QSize(1280, 768));
    EXPECT_EQ(window.windowTitle().toStdString(), "VIEWER");
    EXPECT_TRUE(window.isModal());
    EXPECT_TRUE(window.acceptDrops());
    EXPECT_TRUE(part(window, "EventListBaseWidget")->acceptDrops());
}

TEST(MainWindow, InstanceIsClearedWithTheWindow)
{
    {
        TalViewerMainDialog window;
        ASSERT_EQ(TalViewerMainDialog::instance(), &window);
    }
    EXPECT_EQ(TalViewerMainDialog::instance(), nullptr);
}

// The map starts hidden, so the event list reaches down to the map toggle bar.
TEST(MainWindow, PanelsSitWhereTheyBelongInTheirColours)
{
    const Panel panels[] = {
        {"BaseWidget", {0, 0, 1280, 768}, black, false},
        {"TopMenuBaseWidget", {11, 11, 1258, 40}, black, false},
        {"DisplayBaseWidget", {11, 57, 902, 484}, black, false},
        {"DisplayInfoBaseWidget", {14, 547, 895, 30}, black, true},
        {"TimeInfoBaseWidget", {14, 577, 895, 30}, qRgb(28, 28, 28), false},
        {"GPSDetailInfoBaseWidget", {14, 607, 895, 80}, qRgb(50, 50, 50), true},
        {"GPSInfoBaseWidget", {14, 687, 895, 30}, black, true},
        {"ControlMenuBaseWidget", {14, 717, 895, 40}, qRgb(26, 26, 26), false},
        {"EventBaseWidget", {919, 57, 350, 700}, black, false},
        {"EventListBaseWidget", {919, 57, 350, 654}, black, false},
        {"MapButtonBaseWidget", {919, 717, 350, 40}, qRgb(128, 128, 128), true},
    };
    TalViewerMainDialog window;
    showAndSettle(window);
    const QImage shot = window.grab().toImage();
    for (const Panel &panel : panels) {
        QWidget *widget = part(window, panel.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(rectInWindow(window, widget), panel.rect) << panel.name;
        const QPoint centre = panel.rect.center();
        if (panel.bare)
            EXPECT_EQ(QColor(shot.pixel(centre)).name().toStdString(), QColor(panel.colour).name().toStdString())
            << panel.name << " at " << centre.x() << "," << centre.y();
    }
    EXPECT_TRUE(part(window, "MapBaseWidget")->isHidden());
}

TEST(MainWindow, MapToggleTradesRoomWithTheEventListAndSurvivesARestore)
{
    TalViewerMainDialog window;
    showAndSettle(window);
    QWidget *list = part(window, "EventListBaseWidget");
    QWidget *map = part(window, "MapBaseWidget");
    QWidget *mapButton = part(window, "MapButtonBaseWidget");

    window.toggleMap();
    QApplication::processEvents();
    EXPECT_TRUE(map->isVisible());
    EXPECT_EQ(rectInWindow(window, list), QRect(919, 57, 350, 398));
    EXPECT_EQ(rectInWindow(window, mapButton), QRect(919, 461, 350, 40));
    EXPECT_EQ(rectInWindow(window, map), QRect(919, 507, 350, 250));

    // Hiding and showing again is not a first show: the map stays as it is.
    window.hide();
    showAndSettle(window);
    EXPECT_TRUE(map->isVisible());

    window.toggleMap();
    QApplication::processEvents();
    EXPECT_FALSE(map->isVisible());
    EXPECT_EQ(list->height(), 654);
}

TEST(MainWindow, RemembersTheStartPathWhetherOrNotItExists)
{
    const QString paths[] = {QString(), QStringLiteral("/no/such/card"), QDir::tempPath()};
    for (const QString &path : paths) {
        TalViewerMainDialog window;
        window.setStartPath(path);
        showAndSettle(window);
        EXPECT_EQ(window.startPath().toStdString(), path.toStdString());
        EXPECT_TRUE(window.isVisible()) << path.toStdString();
    }
}
