// tolm-upgrade-cli records push and records report: a results file sent to
// the site database, and what the records say.
#include <cstdio>
#include <memory>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Filecheck.h"
#include "cli/Jsonout.h"
#include "cli/Sitedatabase.h"
#include "records/Forwarder.h"
#include "records/Report.h"
#include "records/Resultsreader.h"
#include "records/Systemservices.h"
#include "toolkit/Exception.h"

namespace tolm::cli {

using namespace tolm::records;

namespace {

// Opens the results file's header; exits with a usage error when it is no results file.
bool ReadResultsHeader(TResultsReader& reader, const std::string& path) {
    std::string why;
    if (!CanReadFile(path, why)) throw UsageError(why);
    if (reader.ReadHeader(why)) return true;
    if (!why.empty()) throw UsageError(why);
    return false;  // empty: the header is still to come
}

std::string DatabaseFailure(const TDatabaseOptions& options, const TDbError& error) {
    return "the database (" + RedactedConnection(options.connection) + "): " + error.Line();
}

struct TPushOptions {
    std::string results;
    TDatabaseOptions db;
    std::string station;
};

int Push(const TPushOptions& options) {
    TResultsReader reader(options.results);
    ReadResultsHeader(reader, options.results);
    TForwarderSettings settings;
    settings.ResultsPath = options.results;
    settings.Database = DatabaseOf(options.db);
    settings.Station = options.station.empty() ? HostName() : options.station;
    TRecordForwarder forwarder(settings);
    std::string why;
    const bool settled = forwarder.PushAll(why);
    for (const auto& note : forwarder.TakeNotes()) std::fprintf(stderr, "tolm-upgrade-cli: %s\n", note.c_str());
    if (!settled) std::fprintf(stderr, "tolm-upgrade-cli: %s\n", why.c_str());
    const TForwardCounts counts = forwarder.Counts();
    std::printf("%ld sent, %ld already in the database, %ld skipped, %ld waiting\n", counts.Sent, counts.AlreadyThere,
                counts.Skipped, counts.Waiting);
    std::fflush(stdout);
    if (!settled) return kExitFailed;
    return counts.Skipped > 0 ? kExitRecordsSkipped : kExitPass;
}

struct TReportOptions {
    std::string results;
    TDatabaseOptions db;
    std::string by = "day";
    bool failing = false;
    bool csv = false;
    bool json = false;
};

// Every attempt of a results file; the records that are no attempt are counted in unreadable.
std::vector<TAttempt> FileAttempts(const std::string& path, long& unreadable) {
    TResultsReader reader(path);
    std::vector<TAttempt> attempts;
    if (!ReadResultsHeader(reader, path)) return attempts;
    std::string why;
    for (const auto& record : reader.Read(reader.DataStart(), 2, static_cast<size_t>(-1), why)) {
        std::string notAttempt;
        auto attempt = ParseAttempt(record.Text, reader.Layout(), reader.Identity(), record.Number, notAttempt);
        if (attempt)
            attempts.push_back(std::move(*attempt));
        else
            ++unreadable;
    }
    if (!why.empty()) throw tolm::Exception(why);
    return attempts;
}

// Columns on a terminal: East Asian wide characters take two cells.
size_t Cells(const std::string& text) {
    size_t cells = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                          (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                          (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                          (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
        cells += wide ? 2 : 1;
        i += length;
    }
    return cells;
}

using TTable = std::vector<std::vector<std::string>>;  // the first row names the columns

void PrintTable(const TTable& table, const std::vector<bool>& numeric) {
    std::vector<size_t> widths(table[0].size(), 0);
    for (const auto& row : table)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Cells(row[c].empty() ? "-" : row[c]));
    for (const auto& row : table) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string text = row[c].empty() ? "-" : row[c];
            const std::string pad(widths[c] - Cells(text), ' ');
            line += (c ? "  " : "") + (numeric[c] && &row != &table[0] ? pad + text : text + pad);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
}

void PrintCsv(const TTable& table) {
    for (const auto& row : table) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) line += (c ? "," : "") + CsvField(row[c]);
        std::printf("%s\n", line.c_str());
    }
}

// The rows as JSON objects keyed by the table's first row; numeric columns as numbers.
void PrintJson(const TTable& table, const std::vector<bool>& numeric) {
    TJson rows = TJson::array();
    for (size_t r = 1; r < table.size(); ++r) {
        TJson row = TJson::object();
        for (size_t c = 0; c < table[r].size(); ++c) {
            if (numeric[c])
                row[table[0][c]] = std::stol(table[r][c]);
            else
                PutText(row, table[0][c], table[r][c]);
        }
        rows.push_back(row);
    }
    std::fputs(IndentedJson(rows).c_str(), stdout);
}

int Report(const TReportOptions& options) {
    std::vector<TAttempt> attempts;
    long unreadable = 0;
    if (!options.results.empty()) {
        attempts = FileAttempts(options.results, unreadable);
    } else {
        TDbError error;
        auto store = TRecordStore::Open(DatabaseOf(options.db), TRecordStore::TPurpose::Read, error);
        if (!store || !store->ReadAll(attempts, error)) {
            std::fprintf(stderr, "tolm-upgrade-cli: %s\n", DatabaseFailure(options.db, error).c_str());
            return kExitFailed;
        }
    }
    if (unreadable > 0)
        std::fprintf(stderr, "tolm-upgrade-cli: %ld line%s of %s %s no attempt and %s not counted\n", unreadable,
                     unreadable == 1 ? "" : "s", options.results.c_str(), unreadable == 1 ? "is" : "are",
                     unreadable == 1 ? "is" : "are");

    TTable table;
    std::vector<bool> numeric;
    if (options.failing) {
        table.push_back({"model_code", "device", "result", "time", "station", "port", "attempt_id"});
        numeric.assign(table[0].size(), false);
        for (const TAttempt& a : FailingDevices(attempts))
            table.push_back({a.ModelCode, a.Device(), a.Result, a.LocalTime, a.Station, a.Port, a.AttemptId});
    } else {
        static const std::pair<const char*, TReportBy> kinds[] = {{"day", TReportBy::Day},
                                                                 {"station", TReportBy::Station},
                                                                 {"model", TReportBy::Model},
                                                                 {"firmware", TReportBy::Firmware}};
        TReportBy by = TReportBy::Day;
        for (const auto& [name, kind] : kinds)
            if (options.by == name) by = kind;
        table.push_back({options.by == "model" ? "model_code" : options.by == "firmware" ? "firmware_sha256" : options.by,
                         "attempts", "passed", "failed"});
        numeric = {false, true, true, true};
        for (const TReportGroup& g : GroupAttempts(attempts, by))
            table.push_back({g.Key, std::to_string(g.Attempts), std::to_string(g.Passed), std::to_string(g.Failed)});
    }
    if (options.json)
        PrintJson(table, numeric);
    else if (options.csv)
        PrintCsv(table);
    else
        PrintTable(table, numeric);
    std::fflush(stdout);
    return kExitPass;
}

}  // namespace

void AddRecordsCommand(CLI::App& app, CommandRun& run) {
    CLI::App* records = app.add_subcommand("records", "send results files to the site database, and report");
    records->require_subcommand(1);

    auto push = std::make_shared<TPushOptions>();
    CLI::App* pushCmd = records->add_subcommand("push", "send the lines of a results file that the database lacks");
    pushCmd->add_option("--results", push->results, "the station's results file")->type_name("FILE.csv")->required();
    AddDatabaseOptions(pushCmd, push->db, false)->required();
    pushCmd->add_option("--station", push->station,
                        "the station named for lines of files without a station column (default the host name)")
        ->type_name("NAME");
    pushCmd->footer(
        "Sends every whole line after those sent before, in the file's order, and keeps how far it got in\n"
        "FILE.csv.cursor. A line sent twice is stored once (each attempt has its ID). Prints\n"
        "\"N sent, N already in the database, N skipped, N waiting\".\n"
        "Exit status: 0 every line is in the database; 1 lines wait (the database could not be reached,\n"
        "refused the login or stopped: the reason is on stderr); 2 usage error or a file that is no results\n"
        "file; 5 lines were skipped (no attempt, or refused by the database: each is named on stderr).");
    pushCmd->callback([push, &run] { run = [push] { return Push(*push); }; });

    auto report = std::make_shared<TReportOptions>();
    CLI::App* reportCmd = records->add_subcommand("report", "count attempts, passes and failures, and failing devices");
    CLI::Option* reportDb = AddDatabaseOptions(reportCmd, report->db, false);
    CLI::Option* reportResults =
        reportCmd->add_option("--results", report->results, "report on one bench's results file instead")
            ->type_name("FILE.csv");
    reportDb->excludes(reportResults);
    reportCmd->add_option("--by", report->by, "count by day (default), station, model or firmware")
        ->type_name("KEY")
        ->check(CLI::IsMember({"day", "station", "model", "firmware"}));
    reportCmd->add_flag("--failing", report->failing, "list the devices whose last attempt failed instead");
    CLI::Option* csv = reportCmd->add_flag("--csv", report->csv, "print CSV instead of a table");
    reportCmd->add_flag("--json", report->json, "print a JSON array instead of a table")->excludes(csv);
    reportCmd->footer(
        "A day is the bench's own date of the attempt. A device is named by its own ID, or its terminal ID.\n"
        "Exit status: 0 done; 1 the database could not be read; 2 usage error.");
    reportCmd->callback([report, reportCmd, &run] {
        if (report->db.connection.empty() && report->results.empty())
            throw CLI::RequiredError("--db or --results");
        run = [report] { return Report(*report); };
    });
}

}  // namespace tolm::cli
