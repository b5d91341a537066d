#include "serial/Portnumbers.h"

#include "platform/Portassign.h"
#include "platform/Sysfsserialports.h"

namespace tolm {

std::vector<int> WorkstationPortNumbers() {
    AssignAdapterPorts();
    std::vector<int> numbers;
    for (const auto& port : FindSerialPorts()) numbers.push_back(port.Number);
    return numbers;
}

}  // namespace tolm
