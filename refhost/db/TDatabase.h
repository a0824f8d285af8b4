// The host's database connection: one T-SQL batch in, its result sets out.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace refhost {

// The database refused a batch (or a statement of it); the message is the database's.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One value of a result row.
struct TDbValue {
    enum class TKind { Null, Integer, Float, Text, DateTime };
    TKind Kind = TKind::Null;
    std::int64_t Int = 0;
    double Float = 0;
    std::string Text; // Text; DateTime as ISO 8601 "YYYY-MM-DDTHH:MM:SS"

    static TDbValue Null() { return {}; }
    static TDbValue Integer(std::int64_t v) { return {TKind::Integer, v, 0, {}}; }
    static TDbValue Real(double v) { return {TKind::Float, 0, v, {}}; }
    static TDbValue String(std::string v) { return {TKind::Text, 0, 0, std::move(v)}; }
    // A date and time given as "YYYY-MM-DD HH:MM:SS[.fff]" or ISO text.
    static TDbValue DateTime(const std::string& v);

    // The value as text: numbers in decimal, dates in ISO 8601, NULL as "".
    std::string AsText() const;
};

struct TDbResultSet {
    std::vector<std::string> Columns;
    std::vector<std::vector<TDbValue>> Rows;
};

struct TDbBatchResult {
    std::vector<TDbResultSet> ResultSets; // in the order the batch produced them
    std::int64_t RowsAffected = 0;        // rows changed by the batch's last changing statement
};

class TDatabase {
public:
    TDatabase() = default;
    TDatabase(const TDatabase&) = delete;
    TDatabase& operator=(const TDatabase&) = delete;
    virtual ~TDatabase() = default;

    // Runs one T-SQL batch as a unit. Throws EDatabaseError (with the database's message, or the
    // translator's naming the statement) when the batch is refused; nothing of it then remains.
    TDbBatchResult RunBatch(const std::string& batch) {
        std::lock_guard lock(FLock);
        return DoRunBatch(batch);
    }

    // What the connection talks to, for the host's log ("SQLite /path/host.db").
    virtual std::string Description() const = 0;

protected:
    virtual TDbBatchResult DoRunBatch(const std::string& batch) = 0;

    std::mutex FLock; // one batch at a time on the connection
};

// Opens the database named by a connection text:
//  - an ODBC connection string (it holds '='), e.g. "DRIVER=SQLite3;Database=/path.db" or a FreeTDS
//    string; an extra key "translate=on" makes the T-SQL go through the SQLite translation (for
//    testing against the SQLite ODBC driver), otherwise batches are passed untouched;
//  - anything else is the path of a SQLite database file (created when missing), optionally
//    written "sqlite:<path>".
std::shared_ptr<TDatabase> OpenDatabase(const std::string& connection);

} // namespace refhost
