#include "cli/Resultshistory.h"

#include "records/Resultsreader.h"

namespace tolm::cli {

bool TResultsHistory::Read(const std::string& path, const std::string& firmwareSha256, std::string& why) {
    records::TResultsReader reader(path);
    if (!reader.ReadHeader(why)) return why.empty();
    long long offset = reader.DataStart();
    long number = 2;
    while (true) {
        const auto batch = reader.Read(offset, number, 1000, why);
        if (!why.empty()) return false;
        if (batch.empty()) return true;
        for (const auto& record : batch) {
            std::string skip;
            const auto attempt = records::ParseAttempt(record.Text, reader.Layout(), reader.Identity(), record.Number, skip);
            if (!attempt) continue;  // a line the reports skip too
            attempts_.insert(attempt->AttemptId);
            if (attempt->Passed() && attempt->FirmwareSha256 == firmwareSha256) AddPass(attempt->Device());
        }
        offset = batch.back().End;
        number = batch.back().Number + 1;
    }
}

}  // namespace tolm::cli
