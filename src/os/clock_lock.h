// Time and locks for the driver over the platform's own calls: a monotonic
// millisecond clock and a process-wide lock. The C++ library's clocks and
// mutexes would link a thread runtime into the Windows DLL (with imports
// that old Windows lacks); these need nothing beyond KERNEL32. Header only,
// so that the tools and the tests can take the clock too.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // windows.h's min and max would hide std::min in every includer
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>
#endif

// Milliseconds on a monotonic clock with 1 ms resolution since an arbitrary
// start: only differences between two readings mean anything.
inline uint64_t MonotonicMs() {
#if defined(_WIN32)
    // The performance counter rather than GetTickCount, whose 10-16 ms steps
    // make short waits look longer or shorter than they were; it is there on
    // every Windows the driver loads on.
    LARGE_INTEGER count{};
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&count)) {
        return GetTickCount();
    }
    const auto ticks = static_cast<uint64_t>(count.QuadPart);
    const auto perSecond = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000u + ticks % perSecond * 1000u / perSecond;
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
#endif
}

// A lock shared by every thread of the process, for short work that never
// waits on a line, taken and released by plain calls (a guard object's
// destructor would bring the exception runtime, and with it a thread
// runtime, into the Windows DLL): define it at namespace scope as
// `ProcessLock name = QEL_PROCESS_LOCK_INIT;`.
// POSIX takes a statically set up mutex; Windows a critical section set up
// by the first thread that takes it (an interlocked flag decides which), so
// that it needs neither a constructor nor DllMain.
#if defined(_WIN32)
struct ProcessLock {
    volatile LONG state;  // 0: not set up, 1: being set up, 2: ready
    CRITICAL_SECTION section;
};
#define QEL_PROCESS_LOCK_INIT \
    {                         \
        0, {}                 \
    }
#else
struct ProcessLock {
    pthread_mutex_t mutex;
};
#define QEL_PROCESS_LOCK_INIT \
    { PTHREAD_MUTEX_INITIALIZER }
#endif

inline void LockProcess(ProcessLock* lock) {
#if defined(_WIN32)
    if (InterlockedCompareExchange(&lock->state, 2, 2) != 2) {
        if (InterlockedCompareExchange(&lock->state, 1, 0) == 0) {
            InitializeCriticalSection(&lock->section);
            InterlockedExchange(&lock->state, 2);
        }
        while (InterlockedCompareExchange(&lock->state, 2, 2) != 2) {
            Sleep(0);
        }
    }
    EnterCriticalSection(&lock->section);
#else
    pthread_mutex_lock(&lock->mutex);
#endif
}

inline void UnlockProcess(ProcessLock* lock) {
#if defined(_WIN32)
    LeaveCriticalSection(&lock->section);
#else
    pthread_mutex_unlock(&lock->mutex);
#endif
}
