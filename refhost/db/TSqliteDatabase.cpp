#include "TSqliteDatabase.h"

#include "TSqlText.h"
#include "clsSysUtils.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>

namespace refhost {

namespace {

struct TStmtCloser {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using TStmtPtr = std::unique_ptr<sqlite3_stmt, TStmtCloser>;

bool IsDateDecl(const char* decl) {
    if (!decl)
        return false;
    using pallux::SameText;
    return SameText(decl, "DATETIME") || SameText(decl, "SMALLDATETIME") || SameText(decl, "DATETIME2") ||
           SameText(decl, "DATE");
}

// True when nothing but blanks, semicolons and comments follows position from.
bool OnlyBlanksAndComments(const std::string& sql, std::size_t from) {
    std::size_t i = from;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == ';' || (c != '\0' && std::isspace(static_cast<unsigned char>(c)))) {
            ++i;
        } else if (sql.compare(i, 2, "--") == 0) {
            i = sql.find('\n', i);
        } else if (sql.compare(i, 2, "/*") == 0) {
            const std::size_t close = sql.find("*/", i + 2);
            i = close == std::string::npos ? sql.size() : close + 2; // SQLite ends an open comment at the end
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

TSqliteDatabase::TSqliteDatabase(const std::string& path, TSqlCacheSettings cache)
    : FPath(path), FRunner(*this, std::move(cache)) {
    const int rc = sqlite3_open_v2(
        path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = FDb ? sqlite3_errmsg(FDb) : sqlite3_errstr(rc);
        sqlite3_close(FDb);
        FDb = nullptr;
        throw EDatabaseError("cannot open database " + path + ": " + message);
    }
    sqlite3_extended_result_codes(FDb, 1);
    // the till and the back office may have the file open at the same time
    sqlite3_busy_timeout(FDb, 10000);
    if (path != ":memory:" && !path.empty()) {
        std::int64_t changes = 0;
        try {
            ExecuteStatement("PRAGMA journal_mode = WAL", changes);
        } catch (...) {
            sqlite3_close(FDb);
            FDb = nullptr;
            throw;
        }
    }
}

TSqliteDatabase::~TSqliteDatabase() {
    sqlite3_finalize(FSchemaVersion);
    if (FDb)
        sqlite3_close(FDb);
}

std::optional<std::int64_t> TSqliteDatabase::SchemaVersion() {
    if (!FSchemaVersion &&
        sqlite3_prepare_v2(FDb, "PRAGMA schema_version", -1, &FSchemaVersion, nullptr) != SQLITE_OK) {
        sqlite3_finalize(FSchemaVersion);
        FSchemaVersion = nullptr;
        return std::nullopt;
    }
    std::optional<std::int64_t> version;
    if (sqlite3_step(FSchemaVersion) == SQLITE_ROW)
        version = sqlite3_column_int64(FSchemaVersion, 0);
    sqlite3_reset(FSchemaVersion);
    return version;
}

void TSqliteDatabase::BeginBatch() {
    sqlite3_set_last_insert_rowid(FDb, 0);
}

std::optional<TDbResultSet> TSqliteDatabase::ExecuteStatement(const std::string& sql, std::int64_t& changes) {
    if (FWatcher)
        FWatcher(sql);
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(FDb, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK)
        throw EDatabaseError(sqlite3_errmsg(FDb));
    TStmtPtr stmt(raw);
    // SQLite prepares the first statement only and stops at a NUL byte: refuse, before anything
    // runs, a text of which it would silently run only the start.
    if (const std::size_t end = static_cast<std::size_t>(tail - sql.c_str());
        !OnlyBlanksAndComments(sql, end))
        throw EDatabaseError("the text from byte " + std::to_string(end) +
                             " on would not run (a NUL byte or a second statement): " + tsql::ShowNul(sql));
    if (!stmt)
        return std::nullopt; // nothing but blanks
    const int columns = sqlite3_column_count(raw);
    TDbResultSet rs;
    std::vector<bool> dates;
    for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(raw, c);
        rs.Columns.emplace_back(name ? name : "");
        dates.push_back(IsDateDecl(sqlite3_column_decltype(raw, c)));
    }
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        std::vector<TDbValue> row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(raw, c)) {
            case SQLITE_NULL:
                row.push_back(TDbValue::Null());
                break;
            case SQLITE_INTEGER:
                row.push_back(TDbValue::Integer(sqlite3_column_int64(raw, c)));
                break;
            case SQLITE_FLOAT:
                row.push_back(TDbValue::Real(sqlite3_column_double(raw, c)));
                break;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
                std::string value(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(raw, c)));
                row.push_back(dates[static_cast<std::size_t>(c)] ? TDbValue::DateTime(value)
                                                                 : TDbValue::String(std::move(value)));
                break;
            }
            }
        }
        rs.Rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        throw EDatabaseError(sqlite3_errmsg(FDb));
    changes = sqlite3_changes64(FDb);
    if (columns == 0)
        return std::nullopt;
    return rs;
}

std::string TSqliteDatabase::QueryPlan(const std::string& query) {
    const auto statements = FRunner.Translate(query);
    if (statements.empty())
        throw EDatabaseError("no statement to explain: " + query);
    const std::string sql = "EXPLAIN QUERY PLAN " + statements.back();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw EDatabaseError(std::string(sqlite3_errmsg(FDb)) + " in statement: " + sql);
    TStmtPtr stmt(raw);
    std::string plan;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        const auto* detail = sqlite3_column_text(stmt.get(), 3);
        plan += (detail ? reinterpret_cast<const char*>(detail) : "") + std::string("\n");
    }
    return plan;
}

} // namespace refhost
