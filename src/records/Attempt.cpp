#include "records/Attempt.h"

#include "base/Upgradeoutcome.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "records/Uuid.h"

namespace tolm::records {

namespace {
// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

bool Digits(const std::string& text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::optional<double> Number(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}
}  // namespace

std::optional<TResultsLayout> LayoutOfHeader(const std::string& line) {
    if (line == kResultsHeader) return TResultsLayout::Full;
    if (line == kResultsHeaderWithoutIds) return TResultsLayout::WithoutIds;
    if (line == kResultsHeaderShort) return TResultsLayout::Short;
    return std::nullopt;
}

bool TAttempt::Passed() const { return IsPassResult(Result); }

bool TAttempt::Skipped() const { return Result == kAlreadyUpgradedResult; }

std::string TAttempt::Device() const { return DeviceId.empty() ? TerminalId : DeviceId; }

std::optional<std::vector<std::string>> CsvFields(const std::string& record) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < record.size(); ++i) {
        const char c = record[i];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (i + 1 < record.size() && record[i + 1] == '"')
                fields.back() += record[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted) return std::nullopt;
    return fields;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string UtcOfLocalTime(const std::string& text) {
    int year, month, day, hour, minute, second, offsetHours = 0, offsetMinutes = 0;
    if (text.size() < 20 || !Digits(text, 0, 4, year) || text[4] != '-' || !Digits(text, 5, 2, month) ||
        text[7] != '-' || !Digits(text, 8, 2, day) || text[10] != 'T' || !Digits(text, 11, 2, hour) ||
        text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' || !Digits(text, 17, 2, second))
        return {};
    const std::string zone = text.substr(19);
    int sign = 0;
    if (zone != "Z") {
        sign = zone[0] == '+' ? 1 : zone[0] == '-' ? -1 : 0;
        const bool plain = zone.size() == 5 && Digits(zone, 1, 2, offsetHours) && Digits(zone, 3, 2, offsetMinutes);
        const bool colon = zone.size() == 6 && zone[3] == ':' && Digits(zone, 1, 2, offsetHours) &&
                           Digits(zone, 4, 2, offsetMinutes);
        if (sign == 0 || !(plain || colon)) return {};
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return {};
    long long seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                        hour * 3600LL + minute * 60LL + second - sign * (offsetHours * 3600LL + offsetMinutes * 60LL);
    return UtcText(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
}

std::string UtcText(std::chrono::system_clock::time_point when) {
    const long long seconds = std::chrono::floor<std::chrono::seconds>(when.time_since_epoch()).count();
    const long long days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const long long rest = seconds - days * 86400;
    long long y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char out[64];
    std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", y, m, d, rest / 3600, rest / 60 % 60,
                  rest % 60);
    return out;
}

std::optional<TAttempt> ParseAttempt(const std::string& record, TResultsLayout layout,
                                     const std::string& fileIdentity, long number, std::string& why) {
    const size_t expected = layout == TResultsLayout::Full ? 17 : layout == TResultsLayout::WithoutIds ? 11 : 9;
    const auto fields = CsvFields(record);
    if (!fields) {
        why = "a quoted field does not end";
        return std::nullopt;
    }
    if (fields->size() != expected) {
        why = "it has " + std::to_string(fields->size()) + (fields->size() == 1 ? " field" : " fields") + ", not " +
              std::to_string(expected);
        return std::nullopt;
    }
    const auto& f = *fields;
    TAttempt a;
    a.LocalTime = f[0];
    a.Port = f[1];
    a.Family = f[2];
    a.ModelCode = f[3];
    a.KernelDigits = f[4];
    a.TerminalId = f[5];
    a.TerminalName = f[6];
    a.Result = f[7];
    a.Seconds = Number(f[8]);
    if (expected >= 11) {
        a.FirmwareSha256 = f[9];
        a.ProgramVersion = f[10];
    }
    if (expected == 17) {
        a.AttemptId = f[11];
        a.Station = f[12];
        a.Operator = f[13];
        a.StartedUtc = f[14];
        a.EndedUtc = f[15];
        a.DeviceId = f[16];
    }
    if (!IsUuid(a.AttemptId))
        a.AttemptId = NameBasedId(fileIdentity + "\n" + std::to_string(number) + "\n" + record);
    for (char& c : a.AttemptId) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (a.EndedUtc.empty()) a.EndedUtc = UtcOfLocalTime(a.LocalTime);
    return a;
}

}  // namespace tolm::records
