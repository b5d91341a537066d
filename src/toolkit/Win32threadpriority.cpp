// Thread priorities on Windows threads (std::thread runs on them).
#include "toolkit/Thread.h"

#include <windows.h>

namespace tolm {

void TThread::ApplyPriority() {
    int level = THREAD_PRIORITY_NORMAL;
    switch (priority_) {
        case TThreadPriority::tpIdle: level = THREAD_PRIORITY_IDLE; break;
        case TThreadPriority::tpLowest: level = THREAD_PRIORITY_LOWEST; break;
        case TThreadPriority::tpLower: level = THREAD_PRIORITY_BELOW_NORMAL; break;
        case TThreadPriority::tpNormal: level = THREAD_PRIORITY_NORMAL; break;
        case TThreadPriority::tpHigher: level = THREAD_PRIORITY_ABOVE_NORMAL; break;
        case TThreadPriority::tpHighest: level = THREAD_PRIORITY_HIGHEST; break;
        case TThreadPriority::tpTimeCritical: level = THREAD_PRIORITY_TIME_CRITICAL; break;
    }
    SetThreadPriority(GetCurrentThread(), level);
}

}  // namespace tolm
