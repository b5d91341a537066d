// Thread priorities on POSIX threads.
#include "toolkit/Thread.h"

#include <pthread.h>
#include <sched.h>

namespace tolm {

void TThread::ApplyPriority() {
    // Only the time-critical level maps onto a real-time class; it needs rights
    // that a desktop user may not have, in which case the thread keeps its own.
    if (priority_ == TThreadPriority::tpTimeCritical) {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_RR);
        pthread_setschedparam(pthread_self(), SCHED_RR, &param);
    }
}

}  // namespace tolm
