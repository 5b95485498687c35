#pragma once
// Opens a generated card and plays it through the real threads, recording
// every shown picture (channel, media time, GOP position, recording, wall
// time, picture size and bytes) and every recording passed over, on the
// test's thread, as the pane grid would receive them. Like a pane, it holds
// each channel's last picture until the next one replaces it, and counts
// held pictures whose bytes changed or whose pool buffer was handed out
// again while held (a decoder writing into a picture on screen).
#include "PicturePool.h"
#include "PlaybackController.h"
#include "fixture_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

struct Shown { int channel; qint64 timeMs; int gop, recording; qint64 wallMs; int width, height, bytes; };

class PlaybackRecorder
{
public:
    // card: a fixture card's name, or an absolute path.
    explicit PlaybackRecorder(const QString &card) : controller(&reader)
    {
        const QString root = QDir(fixtureDir()).filePath(card);
        const bool index = reader.openIndexFile(root) == 0 && reader.loadBanks(root) > 0;
        opened = index || reader.scanCard(root) > 0;
        reader.setMode(index ? 1 : 2);
        // Pictures are taken over on the render thread and recorded on the
        // test's: they do not pass through Qt's posted-event queue, whose
        // locks ThreadSanitizer cannot see.
        QObject::connect(&controller, &PlaybackController::decodedFrame, &context, [this](H26xFrameItem *item) {
            std::lock_guard<std::mutex> locker(inboxLock);
            inbox.push_back({item, wall.elapsed()});
        }, Qt::DirectConnection);
        QObject::connect(&controller, &PlaybackController::playEnd, &context, [this](int) { ended = true; });
        QObject::connect(&controller, &PlaybackController::recordingSkipped, &context,
                         [this](int index, const QString &reason) { skipped.push_back({index, reason}); });
        wall.start();
    }
    ~PlaybackRecorder()
    {
        controller.stop();
        QCoreApplication::processEvents();
        takeInbox(); // pictures still on their way are destroyed by the sink
    }

    // Records the pictures the render thread handed over since the last call.
    void takeInbox()
    {
        std::vector<std::pair<H26xFrameItem *, qint64>> arrived;
        {
            std::lock_guard<std::mutex> locker(inboxLock);
            arrived.swap(inbox);
        }
        for (const auto &a : arrived) {
            H26xFrameItem *item = a.first;
            shown.push_back({item->channel(), item->timeMs(), item->record().gop, item->catalogueIndex(), a.second,
                             item->pictureWidth(), item->pictureHeight(), item->size()});
            Held &h = held[item->channel()];
            if (h.item && (h.generation != PicturePool::generation(h.item->picture()) || h.sum != lumaSum(*h.item)))
                ++changedWhileHeld;
            h.item.reset(item);
            h.generation = PicturePool::generation(item->picture());
            h.sum = lumaSum(*item);
        }
    }

    // A checksum of the picture's luma rows (FNV-1a).
    static quint64 lumaSum(const H26xFrameItem &item)
    {
        const AVFrame *f = item.picture();
        quint64 sum = 14695981039346656037ull;
        for (int y = 0; f && f->data[0] && y < f->height; ++y)
            for (int x = 0; x < f->width; ++x)
                sum = (sum ^ f->data[0][size_t(y) * size_t(f->linesize[0]) + size_t(x)]) * 1099511628211ull;
        return sum;
    }

    // Spins the event loop until done() or timeoutMs; true when done.
    bool runUntil(const std::function<bool()> &done, int timeoutMs)
    {
        for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(2)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            takeInbox();
            if (done())
                return true;
        }
        return false;
    }
    void runFor(int ms) { runUntil([] { return false; }, ms); }

    // The catalogue's end was reached and every picture was shown: every
    // queue has stayed empty for a while, since the render thread takes a
    // picture off its queue a moment before it hands it over or counts it.
    bool finished()
    {
        bool done = ended;
        for (int c = 0; done && c < controller.channelCount(); ++c)
            done = !controller.paneView()->isVisible(c)
                || (controller.decodeThread()->isDrained(c) && !controller.decodeThread()->output(c).size());
        if (!done) {
            emptySince.invalidate();
            return false;
        }
        if (!emptySince.isValid())
            emptySince.start();
        return emptySince.elapsed() >= 100;
    }

    std::vector<Shown> ofChannel(int c, size_t from = 0) const
    {
        std::vector<Shown> out;
        std::copy_if(shown.begin() + long(from), shown.end(), std::back_inserter(out), [c](const Shown &s) { return s.channel == c; });
        return out;
    }

    Reader reader;
    PlaybackController controller;
    QObject context;
    QElapsedTimer wall;
    QElapsedTimer emptySince;
    // The recordings of the shown pictures in the order they first appear.
    std::vector<int> recordings() const
    {
        std::vector<int> visited;
        for (const Shown &s : shown)
            if (std::find(visited.begin(), visited.end(), s.recording) == visited.end())
                visited.push_back(s.recording);
        return visited;
    }

    std::vector<Shown> shown;
    struct Held { std::unique_ptr<H26xFrameItem> item; quint64 generation = 0, sum = 0; };
    std::map<int, Held> held; // declared after the controller: let go before it
    int changedWhileHeld = 0;
    std::mutex inboxLock;
    std::vector<std::pair<H26xFrameItem *, qint64>> inbox; // taken over, not yet recorded
    std::vector<std::pair<int, QString>> skipped;
    bool ended = false, opened = false;
};
