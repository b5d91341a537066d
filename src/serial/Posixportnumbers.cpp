#include "serial/Portnumbers.h"

#include "platform/Posixportassign.h"
#include "platform/Posixserialports.h"

namespace tolm {

std::vector<TWorkstationPort> WorkstationPorts() {
    AssignAdapterPorts();
    std::vector<TWorkstationPort> ports;
    for (const auto& port : FindSerialPorts()) ports.push_back({port.Number, port.ReadableName()});
    return ports;
}

}  // namespace tolm
