#include "toolkit/Event.h"

#include <thread>

namespace tolm {

void Sleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tolm
