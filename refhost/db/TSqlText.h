// Pieces of SQL text that every stage of the T-SQL translation shares: quoting, numbers, the
// joining of translated pieces, and the word lists that decide what a word is.
#pragma once

#include "TSqlTranslator.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace refhost::tsql {

using TTokens = std::vector<TSqlToken>;
using TKind = TSqlToken::TKind;

// A name in SQLite's double quotes, embedded quotes doubled.
std::string QuoteIdent(std::string_view name);

// A whole number written in full (an optional '+' allowed), or nothing.
std::optional<std::int64_t> ToInt(std::string_view text);

// Appends a translated piece, separated by one space except where SQL needs none.
void Append(std::string& out, std::string_view piece);

// A T-SQL text value as a SQLite expression. A NUL byte cannot stand inside a SQLite literal
// (SQLite stops reading the statement there), so each one is joined in as char(0).
std::string SqliteText(std::string_view value);

// The text for an error message, a NUL byte shown as \0 (what() would stop at it).
std::string ShowNul(std::string_view text);

// Words that never name a function or a table alias (any case).
bool IsReserved(std::string_view word);
bool IsReservedWord(const TSqlToken& t);

// Words that begin a statement when they stand at the top level of a batch (any case).
bool IsStatementStart(std::string_view word);

} // namespace refhost::tsql
