#pragma once
// The site database's table of attempts, over ODBC (Odbc.h), in SQL that
// PostgreSQL, SQL Server and SQLite all take: no syntax of one of them, every
// value a bound parameter.
//
//   tolm_schema    (version)    one row: the version of the tables below
//   tolm_attempts  one row per attempt; its key is attempt_id, so an attempt
//                  sent twice is stored once; an index on device_id, ended_utc
//
// Version 1 holds the columns of the results files written before attempt
// IDs were (with the ID as its key); version 2 adds station, operator,
// started_utc, ended_utc, device_id and the index. Opening a store to write
// creates what is missing and upgrades an older version in one transaction;
// stores opened at once by many stations agree (the loser of a race finds
// the work done). A newer version is used as it is: versions only add.
//
// Threads: one store belongs to one thread at a time.
#include <memory>
#include <string>
#include <vector>

#include "records/Attempt.h"
#include "records/Odbc.h"

namespace tolm::records {

inline constexpr int kSchemaVersion = 2;

// Where the database is: an ODBC connection string ("Driver={PostgreSQL
// Unicode};Server=...;Database=...;Uid=..." or "DSN=name"), and its password,
// given apart so that no message, log or process list shows it.
struct TDatabase {
    std::string Connection;
    std::string Password;
    int LoginTimeoutSeconds = 10;
};

class TRecordStore {
public:
    enum class TPurpose {
        Write,  // the tables are created or upgraded as needed
        Read,   // the tables are only read; a database without them is an error
    };
    // Connects; nothing, with error set, when the database cannot be reached,
    // refuses the login or its tables cannot be made ready.
    static std::unique_ptr<TRecordStore> Open(const TDatabase& database, TPurpose purpose, TDbError& error);
    ~TRecordStore();

    int SchemaVersion() const { return version_; }

    enum class TOutcome {
        Stored,
        AlreadyThere,  // an attempt with its ID was stored before
        Refused,       // the database will never take it (a value it cannot hold); why is in the note
    };
    struct TResult {
        TOutcome Outcome;
        std::string Note;  // why it was refused
    };
    // Stores attempts, in order, in as few transactions as it can. results
    // gets a final outcome for each attempt of a prefix of them: all of them
    // when it returns true. On false (the connection failed, the database
    // stopped), error says why and the attempts after the prefix were not
    // stored; nothing of them is left half-done.
    bool Store(const std::vector<TAttempt>& attempts, std::vector<TResult>& results, TDbError& error);

    // Every stored attempt, in no particular order.
    bool ReadAll(std::vector<TAttempt>& attempts, TDbError& error);

private:
    explicit TRecordStore(std::unique_ptr<TOdbcConnection> connection) : connection_(std::move(connection)) {}
    bool ReadVersion(int& version, TDbError& error);
    bool Upgrade(int from, TDbError& error);
    std::unique_ptr<TOdbcStatement> PrepareInsert(TDbError& error);
    bool Insert(TOdbcStatement& insert, const TAttempt& attempt, TDbError& error);
    bool Exists(const std::string& attemptId, bool& exists, TDbError& error);
    bool StoreOneByOne(const std::vector<TAttempt>& attempts, std::vector<TResult>& results, TDbError& error);

    std::unique_ptr<TOdbcConnection> connection_;
    int version_ = 0;
};

}  // namespace tolm::records
