#include "serial/Portnumbers.h"

#include <algorithm>

#include "serial/Getserialport.h"
#include "serial/Tolmserialcomm.h"

namespace tolm {

std::vector<TWorkstationPort> WorkstationPorts() {
    TTolmSerialComm comm;
    std::vector<TWorkstationPort> ports;
    for (const auto& port : ParseDiscoveredPorts(comm.GetComPort())) ports.push_back({port.Number, port.ReadableName});
    std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.Number < b.Number; });
    ports.erase(std::unique(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.Number == b.Number; }),
                ports.end());
    return ports;
}

}  // namespace tolm
