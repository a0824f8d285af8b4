// The column types of T-SQL: what a declaration means, and how it is written back as a
// declared type that SQLite keeps and this translator reads again.
#pragma once

#include "TSqlTranslator.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refhost::tsql {

enum class TFamily { Integer, Real, Decimal, Char, DateTime, Date, Other };

struct TSqlType {
    std::string Name; // canonical upper-case name
    TFamily Family = TFamily::Other;
    std::int64_t Length = 0; // character types: maximum length, -1 for MAX
    int Precision = 0;
    int Scale = 0;
    std::string Raw; // Other: the declared type as found

    // The declared type SQLite keeps for it.
    std::string Decl() const;
};

// Builds a type from its name and its arguments (empty, a number, "MAX", or two numbers);
// nothing, with the reason in error, for a type or an argument this translator does not take.
std::optional<TSqlType> MakeType(const std::string& name, const std::vector<std::string>& args,
                                 std::string& error);

// The type behind a declared type that this translator wrote; anything else is kept as found.
TSqlType TypeFromDecl(const std::string& decl);

} // namespace refhost::tsql
