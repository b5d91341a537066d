#include "records/Odbc.h"

// The ODBC headers of each system: Windows's need <windows.h> first.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cctype>
#include <cstring>

namespace tolm::records {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16 on both systems");

namespace {

// UTF-8 to UTF-16; each byte that starts no well-formed character becomes U+FFFD.
std::u16string Utf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned char lead = byte(i);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool good = length != 0 && i + length <= text.size();
        for (size_t k = 1; good && k < length; ++k) {
            good = (byte(i + k) & 0xC0) == 0x80;
            code = (code << 6) | (byte(i + k) & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not characters.
        static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        good = good && code >= smallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!good) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const char16_t* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// "[unixODBC][Driver Manager]Data source name not found" without the
// brackets, on one line, with runs of blanks folded into one.
std::string OneLine(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && text[start] == '[') {
        const size_t close = text.find(']', start);
        if (close == std::string::npos) break;
        start = close + 1;
    }
    std::string line;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (!std::isspace(static_cast<unsigned char>(c))) {
            line += c;
            continue;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (line.empty()) continue;
        // A sentence that a line break ended without a stop gets one.
        if (c == '\n' && !std::strchr(".:;!?", line.back())) line += ';';
        line += ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';')) line.pop_back();
    return line;
}

// Every occurrence of secret in text replaced by "***".
std::string WithoutSecret(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
        text.replace(at, secret.size(), "***");
    return text;
}

// The diagnostics of a failed call on handle, as one error. call names the
// ODBC function for a failure that left no diagnostic record.
TDbError Diagnose(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN code, const char* call, const std::string& secret) {
    TDbError error;
    std::string texts;
    for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE && record <= 4; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024];
        SQLSMALLINT length = 0;
        const SQLRETURN got = SQLGetDiagRecW(type, handle, record, state, &native, message,
                                             static_cast<SQLSMALLINT>(sizeof message / sizeof message[0]), &length);
        if (!SQL_SUCCEEDED(got)) break;
        const size_t shown = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                              sizeof message / sizeof message[0] - 1);
        const std::string text = OneLine(Utf8(reinterpret_cast<const char16_t*>(message), shown));
        if (error.State.empty()) error.State = Utf8(reinterpret_cast<const char16_t*>(state), 5);
        // Drivers repeat themselves across records; each text is told once.
        if (!text.empty() && texts.find(text) == std::string::npos) texts += (texts.empty() ? "" : "; ") + text;
    }
    if (texts.empty())
        texts = std::string(call) + " failed with return code " + std::to_string(code) +
                " and no diagnostic (is an ODBC driver manager installed?)";
    error.Text = WithoutSecret(texts, secret);
    return error;
}

// A handle freed by its owner.
class THandle {
public:
    THandle(SQLSMALLINT type) : type_(type) {}
    ~THandle() {
        if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    SQLRETURN Allocate(SQLHANDLE parent) { return SQLAllocHandle(type_, parent, &handle_); }
    SQLHANDLE Get() const { return handle_; }
    SQLSMALLINT Type() const { return type_; }

private:
    SQLSMALLINT type_;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

bool IsKey(const std::string& key, const char* name) {
    if (key.size() != std::strlen(name)) return false;
    for (size_t i = 0; i < key.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(key[i])) != name[i]) return false;
    return true;
}

// Calls visit(key, valueStart, valueEnd) for each KEY=VALUE of a connection
// string; a value in braces may hold ';' and '}}'.
template <typename Visit>
void EachAttribute(const std::string& text, Visit visit) {
    size_t i = 0;
    while (i < text.size()) {
        const size_t equals = text.find('=', i);
        if (equals == std::string::npos) break;
        std::string key = text.substr(i, equals - i);
        while (!key.empty() && key.front() == ' ') key.erase(0, 1);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        size_t end = equals + 1;
        if (end < text.size() && text[end] == '{') {
            for (++end; end < text.size(); ++end) {
                if (text[end] != '}') continue;
                if (end + 1 < text.size() && text[end + 1] == '}') {
                    ++end;
                    continue;
                }
                ++end;
                break;
            }
        }
        end = std::min(text.find(';', end), text.size());
        visit(key, equals + 1, end);
        i = end + 1;
    }
}

bool IsPasswordKey(const std::string& key) { return IsKey(key, "pwd") || IsKey(key, "password"); }

}  // namespace

std::string TDbError::Line() const { return State.empty() ? Text : State + ": " + Text; }

bool TDbError::InClass(const char* stateClass) const { return State.compare(0, 2, stateClass) == 0; }

std::string RedactedConnection(const std::string& connection) {
    std::string out = connection;
    std::vector<std::pair<size_t, size_t>> values;
    EachAttribute(connection, [&](const std::string& key, size_t from, size_t to) {
        if (IsPasswordKey(key)) values.emplace_back(from, to);
    });
    for (auto it = values.rbegin(); it != values.rend(); ++it) out.replace(it->first, it->second - it->first, "***");
    return out;
}

bool ConnectionHasPassword(const std::string& connection) {
    bool found = false;
    EachAttribute(connection, [&](const std::string& key, size_t, size_t) { found = found || IsPasswordKey(key); });
    return found;
}

std::string ConnectionWithPassword(const std::string& connection, const std::string& password) {
    if (password.empty()) return connection;
    std::string braced;
    for (char c : password) {
        braced += c;
        if (c == '}') braced += '}';
    }
    std::string out = connection;
    while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
    return out + (out.empty() ? "" : ";") + "PWD={" + braced + "}";
}

struct TOdbcConnection::TImpl {
    THandle environment{SQL_HANDLE_ENV};
    THandle connection{SQL_HANDLE_DBC};
    bool connected = false;
    std::string secret;  // the password, kept out of every text

    TDbError Failure(SQLRETURN code, const char* call) {
        return Diagnose(SQL_HANDLE_DBC, connection.Get(), code, call, secret);
    }
    bool EndTransaction(SQLSMALLINT how, TDbError& error) {
        const SQLRETURN code = SQLEndTran(SQL_HANDLE_DBC, connection.Get(), how);
        if (SQL_SUCCEEDED(code)) return true;
        error = Failure(code, "SQLEndTran");
        return false;
    }
};

struct TOdbcStatement::TImpl {
    TOdbcConnection::TImpl* owner = nullptr;
    THandle statement{SQL_HANDLE_STMT};
    // A parameter's value lives here from its binding until the statement runs.
    struct TValue {
        bool isNumber = false;
        bool isNull = true;
        std::u16string text;
        double number = 0;
        SQLLEN indicator = SQL_NULL_DATA;
    };
    std::vector<TValue> values;

    TDbError Failure(SQLRETURN code, const char* call) {
        return Diagnose(SQL_HANDLE_STMT, statement.Get(), code, call, owner->secret);
    }
    TValue& Value(int index) {
        if (static_cast<size_t>(index) > values.size()) values.resize(static_cast<size_t>(index));
        return values[static_cast<size_t>(index - 1)];
    }
};

TOdbcConnection::TOdbcConnection(std::unique_ptr<TImpl> impl) : impl_(std::move(impl)) {}

TOdbcConnection::~TOdbcConnection() {
    if (impl_->connected) {
        SQLEndTran(SQL_HANDLE_DBC, impl_->connection.Get(), SQL_ROLLBACK);
        SQLDisconnect(impl_->connection.Get());
    }
}

std::unique_ptr<TOdbcConnection> TOdbcConnection::Open(const std::string& connection, const std::string& password,
                                                       int loginTimeoutSeconds, TDbError& error) {
    auto impl = std::make_unique<TImpl>();
    impl->secret = password;
    SQLRETURN code = impl->environment.Allocate(SQL_NULL_HANDLE);
    if (!SQL_SUCCEEDED(code)) {
        error = Diagnose(SQL_HANDLE_ENV, SQL_NULL_HANDLE, code, "SQLAllocHandle", password);
        return nullptr;
    }
    code = SQLSetEnvAttr(impl->environment.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (SQL_SUCCEEDED(code)) code = impl->connection.Allocate(impl->environment.Get());
    if (!SQL_SUCCEEDED(code)) {
        error = Diagnose(SQL_HANDLE_ENV, impl->environment.Get(), code, "SQLAllocHandle", password);
        return nullptr;
    }
    SQLHANDLE dbc = impl->connection.Get();
    // Not every driver honours the time-out; none is harmed by being asked.
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeoutSeconds)), 0);
    std::u16string text = Utf16(ConnectionWithPassword(connection, password));
    SQLWCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    code = SQLDriverConnectW(dbc, nullptr, Wide(text), static_cast<SQLSMALLINT>(text.size()), completed,
                             static_cast<SQLSMALLINT>(sizeof completed / sizeof completed[0]), &completedLength,
                             SQL_DRIVER_NOPROMPT);
    // The string holds the password: it does not outlive the call.
    std::fill(text.begin(), text.end(), u'\0');
    std::memset(completed, 0, sizeof completed);
    if (!SQL_SUCCEEDED(code)) {
        error = impl->Failure(code, "SQLDriverConnectW");
        return nullptr;
    }
    impl->connected = true;
    code = SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    if (!SQL_SUCCEEDED(code)) {
        error = impl->Failure(code, "SQLSetConnectAttrW");
        SQLDisconnect(dbc);
        impl->connected = false;
        return nullptr;
    }
    return std::unique_ptr<TOdbcConnection>(new TOdbcConnection(std::move(impl)));
}

std::unique_ptr<TOdbcStatement> TOdbcConnection::Prepare(const std::string& sql, TDbError& error) {
    auto statement = std::make_unique<TOdbcStatement::TImpl>();
    statement->owner = impl_.get();
    SQLRETURN code = statement->statement.Allocate(impl_->connection.Get());
    if (!SQL_SUCCEEDED(code)) {
        error = impl_->Failure(code, "SQLAllocHandle");
        return nullptr;
    }
    std::u16string text = Utf16(sql);
    code = SQLPrepareW(statement->statement.Get(), Wide(text), static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(code)) {
        error = statement->Failure(code, "SQLPrepareW");
        return nullptr;
    }
    return std::unique_ptr<TOdbcStatement>(new TOdbcStatement(std::move(statement)));
}

bool TOdbcConnection::Execute(const std::string& sql, TDbError& error) {
    THandle statement(SQL_HANDLE_STMT);
    SQLRETURN code = statement.Allocate(impl_->connection.Get());
    if (!SQL_SUCCEEDED(code)) {
        error = impl_->Failure(code, "SQLAllocHandle");
        return false;
    }
    std::u16string text = Utf16(sql);
    code = SQLExecDirectW(statement.Get(), Wide(text), static_cast<SQLINTEGER>(text.size()));
    // A statement that changes nothing (an UPDATE of no row) is no failure.
    if (SQL_SUCCEEDED(code) || code == SQL_NO_DATA) return true;
    error = Diagnose(SQL_HANDLE_STMT, statement.Get(), code, "SQLExecDirectW", impl_->secret);
    return false;
}

bool TOdbcConnection::Commit(TDbError& error) { return impl_->EndTransaction(SQL_COMMIT, error); }

void TOdbcConnection::Rollback() {
    TDbError ignored;
    impl_->EndTransaction(SQL_ROLLBACK, ignored);
}

std::string TOdbcConnection::DbmsName() {
    SQLWCHAR name[128] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(impl_->connection.Get(), SQL_DBMS_NAME, name, sizeof name, &length))) return {};
    return Utf8(reinterpret_cast<const char16_t*>(name),
                std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR), 127));
}

TOdbcStatement::TOdbcStatement(std::unique_ptr<TImpl> impl) : impl_(std::move(impl)) {}

TOdbcStatement::~TOdbcStatement() = default;

void TOdbcStatement::SetText(int index, const std::optional<std::string>& utf8) {
    TImpl::TValue& value = impl_->Value(index);
    value.isNumber = false;
    value.isNull = !utf8;
    value.text = utf8 ? Utf16(*utf8) : std::u16string();
}

void TOdbcStatement::SetNumber(int index, std::optional<double> number) {
    TImpl::TValue& value = impl_->Value(index);
    value.isNumber = true;
    value.isNull = !number;
    value.number = number.value_or(0);
}

bool TOdbcStatement::Execute(TDbError& error) {
    SQLHANDLE handle = impl_->statement.Get();
    SQLFreeStmt(handle, SQL_CLOSE);
    for (size_t i = 0; i < impl_->values.size(); ++i) {
        TImpl::TValue& value = impl_->values[i];
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN code;
        if (value.isNumber) {
            value.indicator = value.isNull ? SQL_NULL_DATA : 0;
            code = SQLBindParameter(handle, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &value.number, 0,
                                    &value.indicator);
        } else {
            const SQLLEN bytes = static_cast<SQLLEN>(value.text.size() * sizeof(char16_t));
            value.indicator = value.isNull ? SQL_NULL_DATA : bytes;
            // A column size of at least 1: some drivers refuse 0 for an empty text.
            code = SQLBindParameter(handle, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                    std::max<SQLULEN>(value.text.size(), 1), 0, Wide(value.text), bytes,
                                    &value.indicator);
        }
        if (!SQL_SUCCEEDED(code)) {
            error = impl_->Failure(code, "SQLBindParameter");
            return false;
        }
    }
    const SQLRETURN code = SQLExecute(handle);
    if (SQL_SUCCEEDED(code) || code == SQL_NO_DATA) return true;
    error = impl_->Failure(code, "SQLExecute");
    return false;
}

bool TOdbcStatement::Fetch(TDbError& error) {
    const SQLRETURN code = SQLFetch(impl_->statement.Get());
    if (SQL_SUCCEEDED(code)) return true;
    if (code != SQL_NO_DATA) error = impl_->Failure(code, "SQLFetch");
    return false;
}

std::optional<std::string> TOdbcStatement::Text(int column, TDbError& error) {
    std::u16string text;
    char16_t chunk[512];
    while (true) {
        SQLLEN indicator = 0;
        const SQLRETURN code = SQLGetData(impl_->statement.Get(), static_cast<SQLUSMALLINT>(column), SQL_C_WCHAR,
                                          chunk, sizeof chunk, &indicator);
        if (code == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(code)) {
            error = impl_->Failure(code, "SQLGetData");
            return std::nullopt;
        }
        if (indicator == SQL_NULL_DATA) return std::nullopt;
        const size_t room = sizeof chunk / sizeof chunk[0] - 1;
        const size_t got = indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) / 2 > room
                               ? room
                               : static_cast<size_t>(indicator) / 2;
        text.append(chunk, got);
        // With SQL_SUCCESS_WITH_INFO a text that did not fit follows in further parts.
        if (code == SQL_SUCCESS || (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / 2 <= room)) break;
    }
    return Utf8(text.data(), text.size());
}

void TOdbcStatement::CloseResult() { SQLFreeStmt(impl_->statement.Get(), SQL_CLOSE); }

}  // namespace tolm::records
