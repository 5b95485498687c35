#pragma once
// Asked between the reads of a recording load: true ends the load early, so
// a thread told to stop never waits for a whole recording on a slow card.
#include <cstdint>
#include <functional>

using LoadCancel = std::function<bool()>;

// What a load that was ended this way returns.
constexpr int64_t LoadCancelled = -2;
