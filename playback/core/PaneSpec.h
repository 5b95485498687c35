#pragma once
// One pane of the grid as the decoder sees it: the channel, its picture size
// and the codec its track uses.
#include "H265Decoder.h"

struct PaneSpec {
    int channel = 0;
    int width = 1280;
    int height = 720;
    int codec = H265Decoder::H265;
};
