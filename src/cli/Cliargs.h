#pragma once
// A small argument reader for the sub-commands: options with values, flags,
// and positional arguments, with usage errors as exceptions.
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolm::cli {

// A usage error: the message says what was wrong; the command exits with 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Args {
public:
    // valueOptions take a value ("--port 3" or "--port=3"); flags take none.
    Args(const std::vector<std::string>& argv, const std::set<std::string>& valueOptions,
         const std::set<std::string>& flags);
    bool Flag(const std::string& name) const { return flags_.count(name) != 0; }
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    long Number(const std::string& name, long fallback, long min, long max) const;
    const std::vector<std::string>& Positional() const { return positional_; }
    // Exactly n positional arguments, else a usage error naming what is expected.
    void ExpectPositional(size_t n, const std::string& what) const;

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positional_;
};

// Exit codes that scripts can trust.
constexpr int kExitPass = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;
constexpr int kExitStopped = 130;  // ended by Ctrl-C (128 + SIGINT)

}  // namespace tolm::cli
