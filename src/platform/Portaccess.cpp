// The words for a port's state, the same on every system.
#include "platform/Portaccess.h"

namespace tolm {

const char* PortStateText(TPortState state) {
    switch (state) {
    case TPortState::Free: return "free";
    case TPortState::InUse: return "in use";
    case TPortState::NoPermission: return "no permission";
    case TPortState::Absent: return "absent";
    }
    return "absent";
}

}  // namespace tolm
