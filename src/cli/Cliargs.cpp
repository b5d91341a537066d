#include "cli/Cliargs.h"

#include <cstdlib>

namespace tolm::cli {

Args::Args(const std::vector<std::string>& argv, const std::set<std::string>& valueOptions,
           const std::set<std::string>& flags) {
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (arg.size() > 2 && arg.rfind("--", 0) == 0) {
            std::string name = arg, value;
            bool inlineValue = false;
            if (auto eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                inlineValue = true;
            }
            if (valueOptions.count(name)) {
                if (!inlineValue) {
                    if (i + 1 >= argv.size()) throw UsageError(name + " needs a value");
                    value = argv[++i];
                }
                values_[name] = value;
            } else if (flags.count(name) && !inlineValue) {
                flags_.insert(name);
            } else {
                throw UsageError("unknown option " + name);
            }
        } else {
            positional_.push_back(arg);
        }
    }
}

std::string Args::Value(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

long Args::Number(const std::string& name, long fallback, long min, long max) const {
    auto it = values_.find(name);
    if (it == values_.end()) return fallback;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 10);
    if (it->second.empty() || *end != '\0' || v < min || v > max)
        throw UsageError(name + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not \"" + it->second + "\"");
    return v;
}

void Args::ExpectPositional(size_t n, const std::string& what) const {
    if (positional_.size() < n) throw UsageError("missing " + what);
    if (positional_.size() > n) throw UsageError("unexpected argument \"" + positional_[n] + "\"");
}

}  // namespace tolm::cli
