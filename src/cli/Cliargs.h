#pragma once
// What the sub-commands share about their command line: the program's
// version, the exit codes, usage errors found after parsing, and the
// checks that CLI11 runs on option values.
#include <CLI/CLI.hpp>

#include <stdexcept>
#include <string>

namespace tolm::cli {

// A usage error found while running a command (a bad --port, a wrong COM
// name): the message says what was wrong; the command exits with 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit codes that scripts can trust.
constexpr int kExitPass = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;
constexpr int kExitRecordLost = 4;  // a station's results file could not be written
constexpr int kExitRecordsSkipped = 5;  // records push: lines that no attempt or the database refused were skipped
constexpr int kExitStopped = 130;  // ended by Ctrl-C (128 + SIGINT)

// Accepts a decimal whole number from min to max (leading zeros read as
// decimal, not octal), else names the range in its message.
CLI::Validator WholeNumber(long min, long max);

}  // namespace tolm::cli
