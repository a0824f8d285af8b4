#include "TOdbcDatabase.h"

#ifdef _WIN32
#include <windows.h> // the ODBC headers use its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <cctype>
#include <cstdio>
#include <memory>

namespace refhost {

namespace {

// The diagnostic records of a handle, as one message.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string message;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR text[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (!message.empty())
            message += "; ";
        message += reinterpret_cast<const char*>(text);
        message += " (" + std::string(reinterpret_cast<const char*>(state)) + ")";
    }
    return message.empty() ? "unknown ODBC error" : message;
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        throw EDatabaseError(std::string(what) + ": " + Diagnostics(type, handle));
}

struct TStmtCloser {
    void operator()(void* s) const { SQLFreeHandle(SQL_HANDLE_STMT, s); }
};
using TStmtPtr = std::unique_ptr<void, TStmtCloser>;

enum class TColumnClass { Integer, Float, DateTime, Text };

TColumnClass Classify(SQLSMALLINT type) {
    switch (type) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT:
        return TColumnClass::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return TColumnClass::Float;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATETIME:
    case SQL_TIMESTAMP:
        return TColumnClass::DateTime;
    default:
        return TColumnClass::Text;
    }
}

TDbValue ReadValue(SQLHSTMT stmt, SQLUSMALLINT column, TColumnClass cls) {
    SQLLEN indicator = 0;
    SQLRETURN rc;
    switch (cls) {
    case TColumnClass::Integer: {
        SQLBIGINT v = 0;
        rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &v, sizeof v, &indicator);
        Check(rc, SQL_HANDLE_STMT, stmt, "reading a value");
        return indicator == SQL_NULL_DATA ? TDbValue::Null() : TDbValue::Integer(v);
    }
    case TColumnClass::Float: {
        double v = 0;
        rc = SQLGetData(stmt, column, SQL_C_DOUBLE, &v, sizeof v, &indicator);
        Check(rc, SQL_HANDLE_STMT, stmt, "reading a value");
        return indicator == SQL_NULL_DATA ? TDbValue::Null() : TDbValue::Real(v);
    }
    case TColumnClass::DateTime: {
        SQL_TIMESTAMP_STRUCT ts{};
        rc = SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &indicator);
        Check(rc, SQL_HANDLE_STMT, stmt, "reading a value");
        if (indicator == SQL_NULL_DATA)
            return TDbValue::Null();
        char buf[80];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", static_cast<int>(ts.year),
                      static_cast<int>(ts.month), static_cast<int>(ts.day), static_cast<int>(ts.hour),
                      static_cast<int>(ts.minute), static_cast<int>(ts.second));
        TDbValue v;
        v.Kind = TDbValue::TKind::DateTime;
        v.Text = buf;
        return v;
    }
    case TColumnClass::Text:
        break;
    }
    // texts of any length, in pieces
    std::string value;
    char buf[4096];
    for (;;) {
        rc = SQLGetData(stmt, column, SQL_C_CHAR, buf, sizeof buf, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        Check(rc, SQL_HANDLE_STMT, stmt, "reading a value");
        if (indicator == SQL_NULL_DATA)
            return TDbValue::Null();
        if (rc == SQL_SUCCESS_WITH_INFO &&
            (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buf))) {
            value.append(buf, sizeof buf - 1); // the driver filled the buffer (minus the terminator)
            continue;
        }
        value.append(buf, static_cast<std::size_t>(indicator));
        break;
    }
    return TDbValue::String(std::move(value));
}

// The rows of the current result of a statement.
TDbResultSet ReadResultSet(SQLHSTMT stmt, SQLSMALLINT columns) {
    TDbResultSet rs;
    std::vector<TColumnClass> classes;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
        SQLCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        Check(SQLDescribeCol(stmt, c, name, sizeof name, &nameLength, &type, &size, &digits, &nullable),
              SQL_HANDLE_STMT, stmt, "describing a column");
        rs.Columns.emplace_back(reinterpret_cast<const char*>(name));
        classes.push_back(Classify(type));
    }
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        Check(rc, SQL_HANDLE_STMT, stmt, "fetching a row");
        std::vector<TDbValue> row;
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
            row.push_back(ReadValue(stmt, c, classes[c - 1u]));
        rs.Rows.push_back(std::move(row));
    }
    return rs;
}

// The batch split at its GO lines: GO separates batches for the client, the server never sees it.
std::vector<std::string> SplitAtGo(const std::string& batch) {
    std::vector<std::string> parts;
    std::string current;
    std::size_t pos = 0;
    while (pos <= batch.size()) {
        const std::size_t eol = batch.find('\n', pos);
        const std::string line = batch.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        std::string trimmed;
        for (char c : line)
            if (!std::isspace(static_cast<unsigned char>(c)))
                trimmed += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (trimmed == "GO" || trimmed == "GO;") {
            parts.push_back(current);
            current.clear();
        } else {
            current += line;
            if (eol != std::string::npos)
                current += '\n';
        }
        if (eol == std::string::npos)
            break;
        pos = eol + 1;
    }
    parts.push_back(current);
    std::erase_if(parts,
                  [](const std::string& p) { return p.find_first_not_of(" \t\r\n;") == std::string::npos; });
    return parts;
}

} // namespace

TOdbcDatabase::TOdbcDatabase(const std::string& connectionString, bool translate)
    : FConnection(connectionString), FTranslate(translate) {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw EDatabaseError("cannot allocate an ODBC environment");
    FEnv = env;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        FEnv = nullptr;
        throw EDatabaseError("cannot allocate an ODBC connection");
    }
    FDbc = dbc;
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connectionString.c_str(), SQL_NTS, nullptr,
                                          0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        const std::string message = Diagnostics(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        FDbc = FEnv = nullptr;
        throw EDatabaseError("cannot connect with ODBC: " + message);
    }
}

TOdbcDatabase::~TOdbcDatabase() {
    if (FDbc) {
        SQLDisconnect(FDbc);
        SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
    }
    if (FEnv)
        SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
}

std::string TOdbcDatabase::Description() const {
    // the connection string without its password
    std::string shown;
    std::size_t pos = 0;
    while (pos < FConnection.size()) {
        std::size_t end = FConnection.find(';', pos);
        if (end == std::string::npos)
            end = FConnection.size();
        std::string part = FConnection.substr(pos, end - pos);
        std::string key = part.substr(0, part.find('='));
        for (char& c : key)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (key == "PWD" || key == "PASSWORD")
            part = part.substr(0, part.find('=')) + "=***";
        shown += (shown.empty() ? "" : ";") + part;
        pos = end + 1;
    }
    return std::string("ODBC ") + shown + (FTranslate ? " (translated)" : "");
}

TDbBatchResult TOdbcDatabase::DoRunBatch(const std::string& batch) {
    return FTranslate ? FRunner.Run(batch) : RunUntranslated(batch);
}

void TOdbcDatabase::SetAutoCommit(bool on) {
    Check(SQLSetConnectAttr(FDbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, FDbc, "setting the commit mode");
}

std::optional<TDbResultSet> TOdbcDatabase::ExecuteStatement(const std::string& sql, std::int64_t& changes) {
    SQLHSTMT raw = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &raw), SQL_HANDLE_DBC, FDbc, "allocating a statement");
    TStmtPtr stmt(raw);
    const SQLRETURN rc = SQLExecDirect(raw, (SQLCHAR*)sql.c_str(), static_cast<SQLINTEGER>(sql.size()));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        throw EDatabaseError(Diagnostics(SQL_HANDLE_STMT, raw));
    SQLSMALLINT columns = 0;
    Check(SQLNumResultCols(raw, &columns), SQL_HANDLE_STMT, raw, "reading the result");
    SQLLEN count = 0;
    changes = 0;
    if (SQL_SUCCEEDED(SQLRowCount(raw, &count)) && count > 0)
        changes = count;
    if (columns <= 0)
        return std::nullopt;
    return ReadResultSet(raw, columns);
}

TDbBatchResult TOdbcDatabase::RunUntranslated(const std::string& batch) {
    TDbBatchResult result;
    const auto parts = SplitAtGo(batch);
    if (parts.empty())
        return result;
    // the whole batch commits or nothing of it does
    SetAutoCommit(false);
    try {
        for (const auto& part : parts) {
            SQLHSTMT raw = SQL_NULL_HSTMT;
            Check(SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &raw), SQL_HANDLE_DBC, FDbc,
                  "allocating a statement");
            TStmtPtr stmt(raw);
            SQLRETURN rc = SQLExecDirect(raw, (SQLCHAR*)part.c_str(), static_cast<SQLINTEGER>(part.size()));
            if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
                throw EDatabaseError(Diagnostics(SQL_HANDLE_STMT, raw));
            // One result per statement of the batch: row sets, or counts of changed rows. A first
            // statement that changed nothing answers SQL_NO_DATA; the later ones still follow.
            if (rc == SQL_NO_DATA) {
                result.RowsAffected = 0;
                rc = SQLMoreResults(raw);
                if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
                    throw EDatabaseError(Diagnostics(SQL_HANDLE_STMT, raw));
            }
            while (rc != SQL_NO_DATA) {
                SQLSMALLINT columns = 0;
                Check(SQLNumResultCols(raw, &columns), SQL_HANDLE_STMT, raw, "reading the result");
                if (columns > 0) {
                    result.ResultSets.push_back(ReadResultSet(raw, columns));
                } else {
                    SQLLEN count = -1;
                    if (SQL_SUCCEEDED(SQLRowCount(raw, &count)) && count >= 0)
                        result.RowsAffected = count;
                }
                rc = SQLMoreResults(raw);
                if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
                    throw EDatabaseError(Diagnostics(SQL_HANDLE_STMT, raw));
            }
        }
        Check(SQLEndTran(SQL_HANDLE_DBC, FDbc, SQL_COMMIT), SQL_HANDLE_DBC, FDbc, "committing");
    } catch (...) {
        SQLEndTran(SQL_HANDLE_DBC, FDbc, SQL_ROLLBACK);
        SetAutoCommit(true);
        throw;
    }
    SetAutoCommit(true);
    return result;
}

} // namespace refhost
