#pragma once
// A database reached through ODBC: unixODBC on Linux, odbc32 on Windows, one
// code path over the wide-character calls. Every return code is tested with
// SQL_SUCCEEDED (a driver manager that is missing under Wine returns codes
// that are not ODBC's, without diagnostics), handles are freed by their
// owners, and a failure becomes one line: the SQLSTATE and the driver's text,
// without the bracketed vendor prefixes and with every line break folded.
// The password, which is given apart from the connection string, never
// appears in any text these classes return.
//
// Threads: a connection and its statements belong to one thread at a time;
// different connections may be used on different threads at once.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolm::records {

// Why a call failed. Empty when nothing failed.
struct TDbError {
    std::string State;  // the SQLSTATE of the first diagnostic ("08001"); empty when the driver gave none
    std::string Text;   // one line, without the password

    bool Failed() const { return !Text.empty(); }
    // "08001: connection to server ... failed", or Text alone without a state.
    std::string Line() const;
    // The SQLSTATE's class (its first two characters).
    bool InClass(const char* stateClass) const;
};

// The connection string with every password value (PWD=, Password=) shown as
// "***", for messages that name the database.
std::string RedactedConnection(const std::string& connection);

// The connection string with PWD={password} appended (a '}' in the password
// doubled, as ODBC's braces ask); connection alone when password is empty.
std::string ConnectionWithPassword(const std::string& connection, const std::string& password);

// True when the connection string names a password itself.
bool ConnectionHasPassword(const std::string& connection);

class TOdbcStatement;

// One connection, in manual-commit mode: every statement belongs to a
// transaction that Commit or Rollback ends.
class TOdbcConnection {
public:
    // Connects with SQLDriverConnectW, without any dialog. The login waits at
    // most loginTimeoutSeconds where the driver honours it. Nothing, with
    // error set, when it fails.
    static std::unique_ptr<TOdbcConnection> Open(const std::string& connection, const std::string& password,
                                                 int loginTimeoutSeconds, TDbError& error);
    ~TOdbcConnection();  // rolls back what is not committed, disconnects
    TOdbcConnection(const TOdbcConnection&) = delete;
    TOdbcConnection& operator=(const TOdbcConnection&) = delete;

    // Runs sql once (no parameters); false with error set when it fails.
    bool Execute(const std::string& sql, TDbError& error);
    // A statement prepared with SQLPrepareW; nothing, with error set, when it fails.
    std::unique_ptr<TOdbcStatement> Prepare(const std::string& sql, TDbError& error);
    bool Commit(TDbError& error);
    void Rollback();
    // The server's name for itself (SQLGetInfo SQL_DBMS_NAME), "PostgreSQL".
    std::string DbmsName();

private:
    struct TImpl;
    explicit TOdbcConnection(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> impl_;
    friend class TOdbcStatement;
};

// A prepared statement: its parameters are bound by position (from 1) as
// UTF-16 text or as a double, or as NULL; its result columns read as text.
class TOdbcStatement {
public:
    ~TOdbcStatement();
    TOdbcStatement(const TOdbcStatement&) = delete;
    TOdbcStatement& operator=(const TOdbcStatement&) = delete;

    // The value of parameter index for the next Execute: nothing binds NULL.
    void SetText(int index, const std::optional<std::string>& utf8);
    void SetNumber(int index, std::optional<double> value);
    bool Execute(TDbError& error);
    // The next row of the result: false at its end or on a failure (error set).
    bool Fetch(TDbError& error);
    // Column (from 1) of the current row as UTF-8; nothing for NULL.
    std::optional<std::string> Text(int column, TDbError& error);
    // Ends the current result so that the statement can run again.
    void CloseResult();

private:
    struct TImpl;
    explicit TOdbcStatement(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> impl_;
    friend class TOdbcConnection;
};

}  // namespace tolm::records
