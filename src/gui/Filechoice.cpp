#include "gui/Filechoice.h"

#include "gui/Guithread.h"

namespace tolm {

std::vector<TFilterPair> FilterPairs(const std::string& filter) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        const size_t bar = filter.find('|', at);
        parts.push_back(filter.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
        if (bar == std::string::npos) break;
        at = bar + 1;
    }
    std::vector<TFilterPair> pairs;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.push_back({parts[i], parts[i + 1]});
    return pairs;
}

bool ChooseOnGuiThread(const TOpenDialog& dialog, std::string& chosenPath,
                       const std::function<bool(const TOpenDialog&, std::string&)>& choose) {
    if (IsGuiThread()) return choose(dialog, chosenPath);
    TOpenDialog settings;
    settings.Filter = dialog.Filter;
    settings.FileName = dialog.FileName;
    bool chosen = false;
    RunOnGuiThread([&] { chosen = choose(settings, chosenPath); });
    return chosen;
}

}  // namespace tolm
