#pragma once
// The site database as the commands name it (--db, --db-password-env), and
// the forwarding of a results file's lines to it while a command runs.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "records/Forwarder.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tolm::cli {

struct TDatabaseOptions {
    std::string connection;        // empty: no database
    std::string passwordVariable;  // the environment variable that holds the password
    bool required = false;         // a database that cannot be reached at start ends the command
};

// Adds --db and --db-password-env (and --db-required when asked); returns --db.
CLI::Option* AddDatabaseOptions(CLI::App* cmd, TDatabaseOptions& db, bool withRequired);
// The database the options name, with its password from the environment;
// a usage error when the password is given twice or its variable is not set.
records::TDatabase DatabaseOf(const TDatabaseOptions& options);

// Sends the lines that a command appends to its results file to the site
// database, on a thread of its own, while the command runs. Does nothing
// when no database is named.
class TResultsForwarding {
public:
    TResultsForwarding(const std::string& resultsPath, const TDatabaseOptions& options, const std::string& station);
    ~TResultsForwarding();
    bool Active() const { return forwarder_ != nullptr; }

    // Connects and starts the thread. A database that cannot be reached is
    // told in one line on stderr; false only when it is required.
    bool Begin();
    // A line was appended to the results file.
    void Appended();
    long Waiting() const;
    // The database could not be reached (or refused) on the last try.
    bool Failing() const;
    // What happened since the last call (records skipped, database lost and back).
    std::vector<std::string> TakeNotes();
    // Gives the thread up to timeout to send what waits, stops it and says on
    // stderr how many lines are still unsent. Returns that number.
    long Finish(std::chrono::milliseconds timeout);

private:
    std::string results_;
    std::unique_ptr<records::TRecordForwarder> forwarder_;
    bool required_ = false;
};

}  // namespace tolm::cli
