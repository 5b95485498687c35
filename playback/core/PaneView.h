#pragma once
// The pane layout, selected pane and visible channels as the GUI last
// published them, read by the read, decode and render threads once per
// round. All of it lives in one atomic word, so a worker never sees a new
// layout with an old selection.
#include <atomic>

class PaneView
{
public:
    enum Layout { Single = 0, TwoByOne = 1, TwoByTwo = 2, ThreeByThree = 3 };
    static constexpr int AllChannels = 0x1FF;

    // In the single pane only selectedChannel is visible; in a grid the
    // channels of visibleMask (bit c for channel c).
    void publish(int layout, int selectedChannel, int visibleMask = AllChannels)
    {
        word = ((visibleMask & AllChannels) << 16) | ((layout & 0xFF) << 8) | (selectedChannel & 0xFF);
    }
    int layout() const { return (word.load() >> 8) & 0xFF; }
    int selectedChannel() const { return word.load() & 0xFF; }
    // The channel whose time leads: the shown one in the single pane, else
    // the first visible one.
    int leadingChannel() const
    {
        const int w = word.load();
        if (((w >> 8) & 0xFF) == Single)
            return w & 0xFF;
        for (int c = 0; c < 9; ++c)
            if (w & (1 << (16 + c)))
                return c;
        return 0;
    }
    bool isVisible(int channel) const
    {
        const int w = word.load();
        if (((w >> 8) & 0xFF) == Single)
            return channel == (w & 0xFF);
        return channel >= 0 && channel < 9 && (w & (1 << (16 + channel)));
    }

private:
    std::atomic<int> word{(AllChannels << 16) | (TwoByTwo << 8)};
};
