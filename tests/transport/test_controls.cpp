// The control bar, time bar and slider as widgets: speed values, time
// ranges and labels, click-to-seek, a held handle, programmatic updates
// that never seek, the speed read-out and the button wiring.
#include "ControlMenuWidget.h"
#include "MySlider.h"
#include "TimeDisplayWidget.h"

#include <QLCDNumber>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

const qint64 start = 1678772725; // 2023-03-14 05:45:25 UTC

struct ShownTimeBar {
    TimeDisplayWidget bar;
    ShownTimeBar()
    {
        bar.resize(895, 30);
        bar.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&bar));
    }
    MySlider *slider() { return bar.timeSlider(); }
    QPoint at(double fraction) { return QPoint(int(std::ceil(fraction * slider()->width())), slider()->height() / 2); }
};

} // namespace

TEST(ControlBar, SpeedSliderSnapsToSixteenthsOfNormalSpeed)
{
    const struct { int value; float speed; int shown; } cases[] = {{200, 1.5f, 192}, {50, 0.375f, 50}, {128, 1.0f, 128}, {143, 1.0f, 128}, {144, 1.125f, 144}};
    ControlMenuWidget bar;
    QSignalSpy speeds(&bar, &ControlMenuWidget::speedChanged);
    for (const auto &c : cases) {
        emit bar.speedSlider()->myValueChanged(c.value);
        ASSERT_FALSE(speeds.isEmpty());
        EXPECT_FLOAT_EQ(speeds.takeLast().at(0).toFloat(), c.speed) << c.value;
        EXPECT_EQ(bar.speedSlider()->value(), c.shown) << c.value;
        EXPECT_FLOAT_EQ(bar.speed(), c.speed) << c.value;
    }
}

TEST(ControlBar, ButtonsAnnounceTheirCommands)
{
    const struct { const char *button, *signal; } cases[] = {
        {"prevBankBtn", SIGNAL(prevBankRequested())},  {"prevFastBtn", SIGNAL(fastBackwardRequested())},
        {"prevBtn", SIGNAL(reverseRequested())},       {"prev1FrameBtn", SIGNAL(prevFrameRequested())},
        {"pauseBtn", SIGNAL(pauseRequested())},        {"playBtn", SIGNAL(playRequested())},
        {"next1FrameBtn", SIGNAL(nextFrameRequested())}, {"nextFastBtn", SIGNAL(fastForwardRequested())},
        {"nextBankBtn", SIGNAL(nextBankRequested())},
    };
    ControlMenuWidget bar;
    for (const auto &c : cases) {
        QSignalSpy wanted(&bar, c.signal);
        auto *button = bar.findChild<QPushButton *>(QLatin1String(c.button));
        ASSERT_NE(button, nullptr) << c.button;
        EXPECT_FALSE(button->toolTip().isEmpty()) << c.button;
        button->click();
        EXPECT_EQ(wanted.count(), 1) << c.button;
    }
}

TEST(ControlBar, SpeedReadOutFollowsTheUnitAndPictureFactorsDoNotEcho)
{
    ControlMenuWidget bar;
    auto *lcd = bar.findChild<QLCDNumber *>(QStringLiteral("KmNumber"));
    bar.setGpsSpeed(100);
    EXPECT_EQ(lcd->intValue(), 100);
    bar.setSpeedUnitKmh(false);
    bar.setGpsSpeed(100);
    EXPECT_EQ(lcd->intValue(), 62);

    QSignalSpy bright(&bar, &ControlMenuWidget::brightnessChanged);
    bar.setPictureFactors(1.5f, 0.5f);
    EXPECT_EQ(bar.brightnessSlider()->value(), 192);
    EXPECT_EQ(bar.contrastSlider()->value(), 64);
    EXPECT_EQ(bright.count(), 0);
    emit bar.brightnessSlider()->myValueChanged(64);
    ASSERT_EQ(bright.count(), 1);
    EXPECT_FLOAT_EQ(bright.at(0).at(0).toFloat(), 0.5f);
}

TEST(TimeBar, RangeAndLabelsFollowPlayback)
{
    const struct { qint64 duration, elapsed; int microseconds, maximum, value; const char *label; } cases[] = {
        {75, 30, 500000, 75000000, 30500000, "00:01:15/00:00:30"},
        {75, 0, 900000, 75000000, 0, "00:01:15/00:00:00"},
        // Over 35 minutes the slider counts milliseconds, not microseconds.
        {3700, 3650, 250000, 3700000, 3650250, "01:01:40/01:00:50"},
    };
    for (const auto &c : cases) {
        ShownTimeBar t;
        QSignalSpy seeks(&t.bar, &TimeDisplayWidget::seekRequested);
        t.bar.setRange(4, start, start + c.duration);
        EXPECT_EQ(t.slider()->maximum(), c.maximum) << c.duration;
        t.bar.updateTime(4, start + c.elapsed, c.microseconds);
        EXPECT_EQ(t.slider()->value(), c.value) << c.duration;
        EXPECT_EQ(t.bar.label(), QLatin1String(c.label)) << c.duration;
        // Following playback never turns into a seek.
        EXPECT_EQ(seeks.count(), 0);
    }
}

TEST(TimeBar, ClickSeeksToThePlaceClickedAndNowhereWithoutARecording)
{
    const struct { qint64 duration; double fraction; qint64 target; /* 0: no seek */ } cases[] = {
        {75, 0.4, start + 30}, {3600, 0.5, start + 1800}, {75, 0.0, start}, {0, 0.5, 0}};
    for (const auto &c : cases) {
        ShownTimeBar t;
        if (c.duration)
            t.bar.setRange(2, start, start + c.duration);
        QSignalSpy seeks(&t.bar, &TimeDisplayWidget::seekRequested);
        // Beside the handle (at 0) except for the click at 0, which starts
        // on the far side so the click is not on the handle either.
        if (c.fraction == 0.0)
            t.bar.updateTime(2, start + c.duration - 1, 0);
        QTest::mouseClick(t.slider(), Qt::LeftButton, {}, t.at(c.fraction));
        ASSERT_EQ(seeks.count(), c.target ? 1 : 0) << c.duration << " " << c.fraction;
        if (c.target) {
            EXPECT_EQ(seeks.at(0), (QVariantList{2, c.target})) << c.duration << " " << c.fraction;
        }
    }
}

TEST(TimeBar, HeldHandleStopsFollowingAndReleaseSeeksWhereLetGo)
{
    ShownTimeBar t;
    EXPECT_EQ(t.bar.volumeSlider()->value(), 64);
    EXPECT_EQ(t.bar.volumeSlider()->maximum(), 100);
    t.bar.setRange(1, start, start + 75);
    QSignalSpy seeks(&t.bar, &TimeDisplayWidget::seekRequested);
    const QPoint handle = t.slider()->handleRect().center();
    QTest::mousePress(t.slider(), Qt::LeftButton, {}, handle);
    ASSERT_TRUE(t.slider()->isHandleGrabbed());
    EXPECT_EQ(seeks.count(), 0);
    t.bar.updateTime(1, start + 50, 0);
    EXPECT_LT(t.slider()->value(), 50000000);
    QTest::mouseRelease(t.slider(), Qt::LeftButton, {}, t.at(0.8));
    EXPECT_FALSE(t.slider()->isHandleGrabbed());
    ASSERT_EQ(seeks.count(), 1);
    EXPECT_EQ(seeks.at(0).at(1).toLongLong(), start + 60);
}

