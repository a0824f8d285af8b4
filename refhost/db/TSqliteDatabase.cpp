#include "TSqliteDatabase.h"

#include "TSqlText.h"
#include "TSqliteParameters.h"
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
    : FPath(path), FPrepared(cache.Prepared), FPrepareCache(cache.Enabled), FRunner(*this, cache) {
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
    FPrepared.Clear(); // every statement finalised before the connection closes
    sqlite3_finalize(FRealOf);
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

std::shared_ptr<sqlite3_stmt> TSqliteDatabase::PrepareText(const std::string& text, const char** tail,
                                                           int& rc) {
    sqlite3_stmt* raw = nullptr;
    rc = sqlite3_prepare_v2(FDb, text.c_str(), static_cast<int>(text.size()), &raw, tail);
    std::shared_ptr<sqlite3_stmt> stmt(raw, [](sqlite3_stmt* s) { sqlite3_finalize(s); });
    ++FPreparedCount;
    if (rc != SQLITE_OK || !raw)
        return nullptr;
    return stmt;
}

namespace {

// Whether two prepared statements answer the same columns (names and declared types).
bool SameColumns(sqlite3_stmt* a, sqlite3_stmt* b) {
    const int n = sqlite3_column_count(a);
    if (n != sqlite3_column_count(b))
        return false;
    const auto same = [](const char* x, const char* y) {
        return (!x && !y) || (x && y && std::string_view(x) == std::string_view(y));
    };
    for (int c = 0; c < n; ++c)
        if (!same(sqlite3_column_name(a, c), sqlite3_column_name(b, c)) ||
            !same(sqlite3_column_decltype(a, c), sqlite3_column_decltype(b, c)))
            return false;
    return true;
}

} // namespace

bool TSqliteDatabase::Bind(sqlite3_stmt* stmt, const std::vector<TSqliteValue>& values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
        const int slot = static_cast<int>(k) + 1;
        int rc = SQLITE_OK;
        if (const auto* i = std::get_if<std::int64_t>(&values[k])) {
            rc = sqlite3_bind_int64(stmt, slot, *i);
        } else if (const auto* r = std::get_if<TSqliteReal>(&values[k])) {
            // read by SQLite as it reads the literal (its own conversion, not the C library's)
            if (!FRealOf) {
                sqlite3_stmt* raw = nullptr;
                if (sqlite3_prepare_v2(FDb, "SELECT CAST(?1 AS REAL)", -1, &raw, nullptr) != SQLITE_OK) {
                    sqlite3_finalize(raw);
                    return false;
                }
                FRealOf = raw;
            }
            sqlite3_bind_text(FRealOf, 1, r->Text.data(), static_cast<int>(r->Text.size()), SQLITE_STATIC);
            const bool read =
                sqlite3_step(FRealOf) == SQLITE_ROW && sqlite3_column_type(FRealOf, 0) == SQLITE_FLOAT;
            const double value = read ? sqlite3_column_double(FRealOf, 0) : 0;
            sqlite3_reset(FRealOf);
            sqlite3_clear_bindings(FRealOf);
            if (!read)
                return false;
            rc = sqlite3_bind_double(stmt, slot, value);
        } else {
            const auto& t = std::get<std::string>(values[k]);
            rc = sqlite3_bind_text(stmt, slot, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK)
            return false;
    }
    return true;
}

std::shared_ptr<sqlite3_stmt> TSqliteDatabase::Prepare(const std::string& sql) {
    // As written: refused, before anything runs, when SQLite would run only the start of it (it
    // prepares the first statement only and stops at a NUL byte).
    const auto asWritten = [&] {
        const char* tail = nullptr;
        int rc = SQLITE_OK;
        auto stmt = PrepareText(sql, &tail, rc);
        if (rc != SQLITE_OK)
            throw EDatabaseError(sqlite3_errmsg(FDb));
        if (const std::size_t end = static_cast<std::size_t>(tail - sql.c_str());
            !OnlyBlanksAndComments(sql, end))
            throw EDatabaseError(
                "the text from byte " + std::to_string(end) +
                " on would not run (a NUL byte or a second statement): " + tsql::ShowNul(sql));
        return stmt;
    };
    if (!FPrepareCache)
        return asWritten();
    std::optional<TSqliteParameterized> p = ParameterizeSqlite(sql);
    if (!p) {
        // the batches' own statements are kept too; anything else is prepared as written
        if (sql != "BEGIN IMMEDIATE" && sql != "COMMIT" && sql != "ROLLBACK")
            return asWritten();
        p = TSqliteParameterized{sql, {}};
    }
    if (const auto* kept = FPrepared.Find(p->Text)) {
        if (!*kept)
            return asWritten();
        std::shared_ptr<sqlite3_stmt> stmt = *kept;
        ++FPreparedReused;
        if (Bind(stmt.get(), p->Values))
            return stmt;
        sqlite3_reset(stmt.get());
        sqlite3_clear_bindings(stmt.get());
        return asWritten();
    }
    // New: the parameterized form stands for the text when SQLite takes it whole and it answers
    // the same columns (a literal in an unnamed result column names it).
    const char* tail = nullptr;
    int rc = SQLITE_OK;
    std::shared_ptr<sqlite3_stmt> stmt = PrepareText(p->Text, &tail, rc);
    std::shared_ptr<sqlite3_stmt> written = asWritten();
    const bool stands =
        stmt && OnlyBlanksAndComments(p->Text, static_cast<std::size_t>(tail - p->Text.c_str())) && written &&
        sqlite3_bind_parameter_count(stmt.get()) == static_cast<int>(p->Values.size()) &&
        SameColumns(stmt.get(), written.get());
    if (!stands) {
        FPrepared.Put(p->Text, nullptr);
        return written;
    }
    FPrepared.Put(p->Text, stmt);
    if (!Bind(stmt.get(), p->Values)) {
        sqlite3_clear_bindings(stmt.get());
        return written;
    }
    return stmt;
}

std::optional<TDbResultSet> TSqliteDatabase::ExecuteStatement(const std::string& sql, std::int64_t& changes) {
    if (FWatcher)
        FWatcher(sql);
    const std::shared_ptr<sqlite3_stmt> stmt = Prepare(sql);
    if (!stmt)
        return std::nullopt; // nothing but blanks
    sqlite3_stmt* raw = stmt.get();
    // a kept statement is left reset, without its values, for its next use
    struct TResetter {
        sqlite3_stmt* S;
        ~TResetter() {
            sqlite3_reset(S);
            sqlite3_clear_bindings(S);
        }
    } resetter{raw};
    // The columns are read after the first step: a kept statement is prepared again inside it when
    // the tables changed since (SELECT * may then answer other columns).
    int rc = sqlite3_step(raw);
    const int columns = sqlite3_column_count(raw);
    TDbResultSet rs;
    std::vector<bool> dates;
    for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(raw, c);
        rs.Columns.emplace_back(name ? name : "");
        dates.push_back(IsDateDecl(sqlite3_column_decltype(raw, c)));
    }
    for (; rc == SQLITE_ROW; rc = sqlite3_step(raw)) {
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
