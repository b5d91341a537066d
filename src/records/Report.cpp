#include "records/Report.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace tolm::records {

namespace {
std::string Key(const TAttempt& a, TReportBy by) {
    switch (by) {
    case TReportBy::Day:
        return UtcOfLocalTime(a.LocalTime).empty() ? std::string() : a.LocalTime.substr(0, 10);
    case TReportBy::Station:
        return a.Station;
    case TReportBy::Model:
        return a.ModelCode;
    case TReportBy::Firmware:
        return a.FirmwareSha256;
    }
    return {};
}
}  // namespace

std::vector<TReportGroup> GroupAttempts(const std::vector<TAttempt>& attempts, TReportBy by) {
    std::map<std::string, TReportGroup> groups;
    for (const TAttempt& a : attempts) {
        if (a.Skipped()) continue;
        TReportGroup& group = groups[Key(a, by)];
        ++group.Attempts;
        ++(a.Passed() ? group.Passed : group.Failed);
    }
    std::vector<TReportGroup> rows;
    for (auto& [key, group] : groups) {
        group.Key = key;
        rows.push_back(group);
    }
    return rows;
}

std::vector<TAttempt> FailingDevices(const std::vector<TAttempt>& attempts) {
    std::vector<size_t> order(attempts.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return attempts[a].EndedUtc < attempts[b].EndedUtc; });
    std::map<std::pair<std::string, std::string>, size_t> latest;
    for (size_t i : order)
        if (!attempts[i].Device().empty() && !attempts[i].Skipped()) latest[{attempts[i].ModelCode, attempts[i].Device()}] = i;
    std::vector<size_t> failing;
    for (const auto& [device, i] : latest)
        if (!attempts[i].Passed()) failing.push_back(i);
    std::stable_sort(failing.begin(), failing.end(),
                     [&](size_t a, size_t b) { return attempts[a].EndedUtc > attempts[b].EndedUtc; });
    std::vector<TAttempt> devices;
    for (size_t i : failing) devices.push_back(attempts[i]);
    return devices;
}

}  // namespace tolm::records
