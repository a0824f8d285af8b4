// SQLite statements with their literal values taken out as parameters, so that statements that
// differ only in their values share one prepared statement (SQLite compiles a table's triggers
// into every INSERT and UPDATE it prepares: more work than running the statement).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace refhost {

// A floating literal, as written: SQLite turns it into its value itself (TSqliteDatabase), so the
// bound value is the very one SQLite would read from the text, to the last bit.
struct TSqliteReal {
    std::string Text;
    bool operator==(const TSqliteReal&) const = default;
};

// A value bound to a parameter: a whole number, a floating literal or a text.
using TSqliteValue = std::variant<std::int64_t, TSqliteReal, std::string>;

struct TSqliteParameterized {
    std::string Text;                 // the statement with '?' where the literals were
    std::vector<TSqliteValue> Values; // the literals' values, in order
};

// The statement with its text and number literals as parameters; none when the statement is not
// one whose literals may be parameters (only SELECT, INSERT, UPDATE, DELETE and WITH are; a text
// holding a NUL byte is left alone). Numbers after ORDER BY or GROUP BY stay (they name result
// columns there), as do hexadecimal numbers, blobs and numbers that do not fit the value types.
// A form in which SQLite refuses a parameter (a type's length) shows when it is prepared.
std::optional<TSqliteParameterized> ParameterizeSqlite(const std::string& sql);

} // namespace refhost
