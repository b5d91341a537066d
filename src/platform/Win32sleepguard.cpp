// The sleep guard on Windows: the calling thread asks that the system stay
// in the working state (no sleep on idle) until it says otherwise.
#include "platform/Sleepguard.h"

#include <windows.h>

namespace tolm {

struct TSleepGuard::TLock {
    bool held = false;
};

TSleepGuard::TSleepGuard() : lock_(std::make_unique<TLock>()) {}

TSleepGuard::~TSleepGuard() { Release(); }

bool TSleepGuard::Hold() {
    if (!lock_->held) lock_->held = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    return lock_->held;
}

void TSleepGuard::Release() {
    if (!lock_->held) return;
    SetThreadExecutionState(ES_CONTINUOUS);
    lock_->held = false;
}

bool TSleepGuard::Held() const { return lock_->held; }

}  // namespace tolm
