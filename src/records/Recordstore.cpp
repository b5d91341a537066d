#include "records/Recordstore.h"

#include <charconv>

namespace tolm::records {

namespace {
// Texts of national characters: SQL Server keeps Chinese only in those; the
// others read the standard name as their own text type.
#define TEXT(n) "NATIONAL CHARACTER VARYING(" #n ")"

// The steps from each version to the next, run in one transaction with the
// version's update.
const std::vector<std::vector<const char*>> kSteps = {
    {
        "CREATE TABLE tolm_schema (version INTEGER NOT NULL)",
        "INSERT INTO tolm_schema (version) VALUES (1)",
        "CREATE TABLE tolm_attempts ("
        "attempt_id VARCHAR(36) NOT NULL PRIMARY KEY, local_time " TEXT(40) ", port " TEXT(255) ", family " TEXT(16)
        ", model_code " TEXT(255) ", kernel_digits " TEXT(255) ", terminal_id " TEXT(255) ", terminal_name " TEXT(255)
        ", result " TEXT(255) ", seconds DOUBLE PRECISION, firmware_sha256 VARCHAR(64), program_version " TEXT(64) ")",
    },
    {
        "ALTER TABLE tolm_attempts ADD station " TEXT(255),
        "ALTER TABLE tolm_attempts ADD operator " TEXT(255),
        "ALTER TABLE tolm_attempts ADD started_utc VARCHAR(32)",
        "ALTER TABLE tolm_attempts ADD ended_utc VARCHAR(32)",
        "ALTER TABLE tolm_attempts ADD device_id " TEXT(255),
        "CREATE INDEX tolm_attempts_device_time ON tolm_attempts (device_id, ended_utc)",
        "UPDATE tolm_schema SET version = 2",
    },
};
#undef TEXT

// The columns of each version, in the order of TAttempt's fields.
constexpr const char* kColumnsV1 =
    "attempt_id, local_time, port, family, model_code, kernel_digits, terminal_id, terminal_name, result, seconds, "
    "firmware_sha256, program_version";
constexpr const char* kColumnsV2 = ", station, operator, started_utc, ended_utc, device_id";

// A text column's value: an empty text is stored as NULL, "not recorded".
std::optional<std::string> Value(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}
}  // namespace

TRecordStore::~TRecordStore() = default;

std::unique_ptr<TRecordStore> TRecordStore::Open(const TDatabase& database, TPurpose purpose, TDbError& error) {
    auto connection = TOdbcConnection::Open(database.Connection, database.Password, database.LoginTimeoutSeconds, error);
    if (!connection) return nullptr;
    std::unique_ptr<TRecordStore> store(new TRecordStore(std::move(connection)));
    if (purpose == TPurpose::Read) {
        if (!store->ReadVersion(store->version_, error)) return nullptr;
        return store;
    }
    // Stations that start together race to make the tables; a loser finds
    // them made when it looks again.
    for (int round = 0; round < 3; ++round) {
        int version = 0;
        TDbError ignored;
        if (!store->ReadVersion(version, ignored)) version = 0;
        if (version >= kSchemaVersion) {
            store->version_ = version;
            return store;
        }
        if (store->Upgrade(version, error)) {
            store->version_ = kSchemaVersion;
            return store;
        }
    }
    return nullptr;
}

bool TRecordStore::ReadVersion(int& version, TDbError& error) {
    auto select = connection_->Prepare("SELECT MAX(version) FROM tolm_schema", error);
    bool read = select && select->Execute(error) && select->Fetch(error);
    std::optional<std::string> text;
    if (read) text = select->Text(1, error);
    read = read && !error.Failed();
    select.reset();
    connection_->Rollback();  // ends the reading transaction, or the failed one
    if (!read) {
        if (!error.Failed()) error.Text = "the database has no records table";
        return false;
    }
    version = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), version);
    return true;
}

bool TRecordStore::Upgrade(int from, TDbError& error) {
    for (size_t step = static_cast<size_t>(from); step < kSteps.size(); ++step) {
        for (const char* sql : kSteps[step]) {
            if (!connection_->Execute(sql, error)) {
                connection_->Rollback();
                return false;
            }
        }
    }
    if (connection_->Commit(error)) return true;
    connection_->Rollback();
    return false;
}

// Prepared again for each transaction: where a driver ends prepared
// statements with the transaction (SQL_CB_DELETE), the next one still works.
std::unique_ptr<TOdbcStatement> TRecordStore::PrepareInsert(TDbError& error) {
    return connection_->Prepare(std::string("INSERT INTO tolm_attempts (") + kColumnsV1 + kColumnsV2 +
                                    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                error);
}

bool TRecordStore::Insert(TOdbcStatement& insert, const TAttempt& a, TDbError& error) {
    int i = 1;
    for (const std::string* text : {&a.AttemptId, &a.LocalTime, &a.Port, &a.Family, &a.ModelCode, &a.KernelDigits,
                                    &a.TerminalId, &a.TerminalName, &a.Result})
        insert.SetText(i++, Value(*text));
    insert.SetNumber(i++, a.Seconds);
    for (const std::string* text : {&a.FirmwareSha256, &a.ProgramVersion, &a.Station, &a.Operator, &a.StartedUtc,
                                    &a.EndedUtc, &a.DeviceId})
        insert.SetText(i++, Value(*text));
    return insert.Execute(error);
}

bool TRecordStore::Exists(const std::string& attemptId, bool& exists, TDbError& error) {
    auto select = connection_->Prepare("SELECT COUNT(*) FROM tolm_attempts WHERE attempt_id = ?", error);
    if (!select) return false;
    select->SetText(1, attemptId);
    const bool read = select->Execute(error) && select->Fetch(error);
    const auto count = read ? select->Text(1, error) : std::nullopt;
    select.reset();
    connection_->Rollback();
    exists = count && *count != "0";
    return read && !error.Failed();
}

bool TRecordStore::Store(const std::vector<TAttempt>& attempts, std::vector<TResult>& results, TDbError& error) {
    results.clear();
    // The whole batch in one transaction, which is what nearly always happens.
    auto insert = PrepareInsert(error);
    bool inserted = insert != nullptr;
    for (size_t i = 0; inserted && i < attempts.size(); ++i) inserted = Insert(*insert, attempts[i], error);
    insert.reset();
    if (inserted && connection_->Commit(error)) {
        results.assign(attempts.size(), TResult{TOutcome::Stored, {}});
        return true;
    }
    connection_->Rollback();
    if (inserted) return false;  // the commit failed
    // An attempt of the batch is there already, or refused, or the connection
    // broke: one by one, each tells which.
    error = {};
    return StoreOneByOne(attempts, results, error);
}

bool TRecordStore::StoreOneByOne(const std::vector<TAttempt>& attempts, std::vector<TResult>& results,
                                 TDbError& error) {
    for (const TAttempt& attempt : attempts) {
        TDbError insertError;
        auto insert = PrepareInsert(insertError);
        const bool inserted = insert && Insert(*insert, attempt, insertError);
        insert.reset();
        if (inserted) {
            if (!connection_->Commit(error)) {
                connection_->Rollback();
                return false;
            }
            results.push_back({TOutcome::Stored, {}});
            continue;
        }
        connection_->Rollback();
        // Whatever the driver called the failure, an attempt whose ID is in
        // the table was stored before; when even that cannot be asked, the
        // connection is what failed.
        bool exists = false;
        TDbError checkError;
        if (!Exists(attempt.AttemptId, exists, checkError)) {
            error = insertError;
            return false;
        }
        if (exists) {
            results.push_back({TOutcome::AlreadyThere, {}});
        } else if (insertError.InClass("22") || insertError.InClass("23")) {
            results.push_back({TOutcome::Refused, insertError.Line()});
        } else {
            error = insertError;
            return false;
        }
    }
    return true;
}

bool TRecordStore::ReadAll(std::vector<TAttempt>& attempts, TDbError& error) {
    const bool traced = version_ >= 2;
    auto select = connection_->Prepare(std::string("SELECT ") + kColumnsV1 + (traced ? kColumnsV2 : "") +
                                           " FROM tolm_attempts",
                                       error);
    if (!select || !select->Execute(error)) {
        connection_->Rollback();
        return false;
    }
    while (select->Fetch(error)) {
        TAttempt a;
        int i = 1;
        auto text = [&](std::string& field) { field = select->Text(i++, error).value_or(""); };
        for (std::string* field : {&a.AttemptId, &a.LocalTime, &a.Port, &a.Family, &a.ModelCode, &a.KernelDigits,
                                   &a.TerminalId, &a.TerminalName, &a.Result})
            text(*field);
        if (const auto seconds = select->Text(i++, error)) {
            double value = 0;
            if (std::from_chars(seconds->data(), seconds->data() + seconds->size(), value).ec == std::errc())
                a.Seconds = value;
        }
        text(a.FirmwareSha256);
        text(a.ProgramVersion);
        if (traced)
            for (std::string* field : {&a.Station, &a.Operator, &a.StartedUtc, &a.EndedUtc, &a.DeviceId}) text(*field);
        if (a.EndedUtc.empty()) a.EndedUtc = UtcOfLocalTime(a.LocalTime);
        if (error.Failed()) break;
        attempts.push_back(std::move(a));
    }
    select.reset();
    connection_->Rollback();
    return !error.Failed();
}

}  // namespace tolm::records
