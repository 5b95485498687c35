#pragma once
// The fixed video parameter sets handed out in front of frames that do not
// carry their own: H.264 sets by index-store resolution code, H.265 sets by
// picture size (used by the export's Matroska headers).
#include <cstddef>
#include <cstdint>

struct ParameterSet {
    const uint8_t *data = nullptr;
    size_t size = 0;
};

namespace ParameterSets {

enum class Reading { Forward, Backward, Export };

// The set put in front of an index-store video frame: codes 12, 13, 15 →
// 1080, 14 → 720, 30 → 576, 0 → 720 in backward reading only; none else.
ParameterSet forFrame(int resolutionCode, Reading reading);

// The set of the export's video header: as forFrame, with code 0 → 720.
ParameterSet forHeader(int resolutionCode);

// The 103-byte H.265 set for 2560×1440, 1920×1080 or 1280×720; none else.
ParameterSet h265ForSize(int width, int height);

} // namespace ParameterSets
