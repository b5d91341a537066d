#include "platform/Win32programmutex.h"

#include <windows.h>

namespace tolm {

void MarkProgramRunning() {
    // Not owned: its existence is the mark. One more copy running finds it
    // there already and holds it as well.
    CreateMutexW(nullptr, FALSE, kProgramMutexName);
}

}  // namespace tolm
