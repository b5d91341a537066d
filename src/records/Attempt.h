#pragma once
// One attempt at a device, as a station's results file holds it and as the
// site database stores it, and the reading of results-file lines.
//
// Values are kept as the file holds them: a text that a spreadsheet would
// take for a formula keeps the ' that the writer put before it, and scanner
// digits keep their "7_1_0" form, so the database says exactly what the
// bench's own record says (the writer's guard cannot be undone without
// guessing: "'-x" may have been "-x" or "'-x").
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tolm::records {

// The header lines of results files, newest first. The newest adds the
// attempt's ID and its traceability columns after today's columns, so that
// readers of today's columns read it unchanged.
inline constexpr const char* kResultsHeader =
    "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds,firmware_sha256,"
    "program_version,attempt_id,station,operator,started_utc,ended_utc,device_id";
inline constexpr const char* kResultsHeaderWithoutIds =
    "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds,firmware_sha256,"
    "program_version";
inline constexpr const char* kResultsHeaderShort =
    "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds";

enum class TResultsLayout { Short, WithoutIds, Full };

// The layout a header line names; nothing for a line that is no header.
std::optional<TResultsLayout> LayoutOfHeader(const std::string& line);

struct TAttempt {
    std::string AttemptId;  // UUID
    std::string LocalTime;  // the file's "time": the bench's local time at the end, with its offset
    std::string Port;
    std::string Family;
    std::string ModelCode;
    std::string KernelDigits;
    std::string TerminalId;
    std::string TerminalName;
    std::string Result;
    std::optional<double> Seconds;
    std::string FirmwareSha256;
    std::string ProgramVersion;
    std::string Station;
    std::string Operator;
    std::string StartedUtc;  // "2026-12-08T20:29:48Z"; empty where not recorded
    std::string EndedUtc;
    std::string DeviceId;

    // "Upgrade PASS" or "Font Upgrade PASS".
    bool Passed() const;
    // A device that a station did not upgrade since it passed with this
    // firmware before: no attempt, neither a pass nor a failure.
    bool Skipped() const;
    // The device as reports name it: its own ID, else its terminal ID; empty when neither is known.
    std::string Device() const;
};

// The fields of one CSV record as the results file writes them (a field with
// a comma, a quote or a line break quoted, its quotes doubled); nothing when
// its quotes do not close.
std::optional<std::vector<std::string>> CsvFields(const std::string& record);
// One field written so (quoted where needed); no formula guard is added.
std::string CsvField(const std::string& text);

// "2026-12-08T21:30:00+0100" (or "+01:00", or "Z") as UTC,
// "2026-12-08T20:30:00Z"; empty when text is no such time.
std::string UtcOfLocalTime(const std::string& text);

// A moment in UTC, "2026-12-08T20:29:48Z" (whole seconds), as the
// started_utc and ended_utc columns hold it.
std::string UtcText(std::chrono::system_clock::time_point when);

// The attempt that one data record of a results file holds. A record without
// an attempt ID gets one derived from fileIdentity (the file's first data
// record), its number in the file and its own bytes, so that the same record
// always maps to the same ID and two files never share one. Nothing, with why
// set, when the record does not have the layout's fields. ended_utc is taken
// from the time where the record has no column for it.
std::optional<TAttempt> ParseAttempt(const std::string& record, TResultsLayout layout,
                                     const std::string& fileIdentity, long number, std::string& why);

}  // namespace tolm::records
