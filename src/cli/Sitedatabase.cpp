#include "cli/Sitedatabase.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#include "cli/Cliargs.h"
#include "cli/Consoletext.h"
#include "records/Systemservices.h"
#include "toolkit/Exception.h"

namespace tolm::cli {

using namespace tolm::records;

CLI::Option* AddDatabaseOptions(CLI::App* cmd, TDatabaseOptions& db, bool withRequired) {
    CLI::Option* option =
        cmd->add_option("--db", db.connection,
                        "the site database: an ODBC connection string, such as\n"
                        "\"Driver={PostgreSQL Unicode};Server=HOST;Database=NAME;Uid=USER\", or DSN=NAME")
            ->type_name("CONNECTION");
    cmd->add_option("--db-password-env", db.passwordVariable,
                    "take the database's password from the environment variable NAME (so that it shows in no\n"
                    "process list)")
        ->type_name("NAME");
    if (withRequired)
        cmd->add_flag("--db-required", db.required,
                      "end at start when the database cannot be reached (default: work from the results file\n"
                      "alone and send its lines once the database is back)");
    return option;
}

TDatabase DatabaseOf(const TDatabaseOptions& options) {
    TDatabase database;
    database.Connection = options.connection;
    if (options.passwordVariable.empty()) return database;
    if (ConnectionHasPassword(options.connection))
        throw UsageError("--db names a password itself; leave it out when --db-password-env gives it");
    const auto password = EnvironmentText(options.passwordVariable);
    if (!password) throw UsageError("the environment variable " + options.passwordVariable + " is not set");
    database.Password = *password;
    return database;
}

TResultsForwarding::TResultsForwarding(const std::string& resultsPath, const TDatabaseOptions& options,
                                       const std::string& station)
    : results_(resultsPath), required_(options.required) {
    if (options.connection.empty()) return;
    TForwarderSettings settings;
    settings.ResultsPath = resultsPath;
    settings.Database = DatabaseOf(options);
    settings.Station = station;
    forwarder_ = std::make_unique<TRecordForwarder>(std::move(settings));
}

TResultsForwarding::~TResultsForwarding() {
    if (forwarder_) forwarder_->Stop();
}

bool TResultsForwarding::Begin() {
    if (!forwarder_) return true;
    std::string why;
    if (!forwarder_->Connect(why)) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", why.c_str());
        if (required_) return false;
        Printf(stderr, "tolm-upgrade-cli: the lines wait in %s and are sent once the database is back\n",
               results_.c_str());
    }
    forwarder_->Start();
    return true;
}

void TResultsForwarding::Appended() {
    if (forwarder_) forwarder_->Notify();
}

long TResultsForwarding::Waiting() const { return forwarder_ ? forwarder_->Counts().Waiting : 0; }

bool TResultsForwarding::Failing() const { return forwarder_ && !forwarder_->LastError().empty(); }

std::vector<std::string> TResultsForwarding::TakeNotes() {
    return forwarder_ ? forwarder_->TakeNotes() : std::vector<std::string>{};
}

long TResultsForwarding::Finish(std::chrono::milliseconds timeout) {
    if (!forwarder_) return 0;
    // A database that is away already gets one short chance, not the whole time.
    const auto wait = Failing() ? std::min(timeout, std::chrono::milliseconds(2000)) : timeout;
    forwarder_->Notify();
    forwarder_->WaitUntilSent(wait);
    forwarder_->Stop();
    for (const auto& note : forwarder_->TakeNotes()) Printf(stderr, "tolm-upgrade-cli: %s\n", note.c_str());
    const long waiting = forwarder_->Counts().Waiting;
    if (waiting > 0)
        Printf(stderr,
               "tolm-upgrade-cli: %ld line%s of %s %s not sent to the database (%s); "
               "\"tolm-upgrade-cli records push --results %s --db ...\" sends %s later\n",
               waiting, waiting == 1 ? "" : "s", results_.c_str(), waiting == 1 ? "is" : "are",
               forwarder_->LastError().empty() ? "time ran out" : forwarder_->LastError().c_str(), results_.c_str(),
               waiting == 1 ? "it" : "them");
    return waiting;
}

}  // namespace tolm::cli
