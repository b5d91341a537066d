#include "serial/Portnumbers.h"

#include <algorithm>

#include "serial/Getserialport.h"
#include "serial/Tolmserialcomm.h"

namespace tolm {

std::vector<int> WorkstationPortNumbers() {
    TTolmSerialComm comm;
    std::vector<int> numbers;
    for (const auto& port : ParseDiscoveredPorts(comm.GetComPort())) numbers.push_back(port.Number);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

}  // namespace tolm
