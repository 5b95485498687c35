#pragma once
// Decoding runs below the GUI and the render thread: on a machine that can
// barely decode every channel, the window still answers at once and the
// render thread still shows each picture on time, while the decoders take
// what CPU is left (a late channel drops frames, see FrameDropPolicy).
// Threads inherit the priority of the thread that starts them, so a codec
// opened on a lowered thread gets lowered frame threads.
#include <QtGlobal>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ThreadPriority {

// How far decoding threads are niced below the others.
constexpr int DecodeNiceness = 5;

// Lowers the calling thread (only that thread: Linux keeps a nice value per
// thread) by DecodeNiceness below the niceness it started with. Call once,
// first thing in a new thread.
inline void lowerCallingThreadForDecoding()
{
#ifdef Q_OS_LINUX
    const auto tid = id_t(syscall(SYS_gettid));
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, tid);
    if (errno == 0 && now < 19)
        setpriority(PRIO_PROCESS, tid, std::min(19, now + DecodeNiceness));
#endif
}

} // namespace ThreadPriority
