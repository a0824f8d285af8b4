// Access to the host database for the module's units: one script object per operation, and the
// reading of identifiers and failures from the script service's answers.
#pragma once

#include "JsonDocument.h"
#include "intfDBScript.h"

#include <cstdint>
#include <string>

namespace zumvo {

// A new database script object for one operation. Raises "Could not create DBScript" when the
// container cannot supply one.
pallux::IntfPtr<pallux::IDBScript> NewDBScript();

// An identifier read back from SQL as text: its value when the text is a whole number in the
// 32-bit range (surrounding blanks allowed), else -1.
std::int32_t IdentifierFromText(const std::string& text);

// Runs a formatted statement and raises an error naming the statement when the database refuses
// it, so that the operation's handler logs the failure instead of losing it silently.
void ExecuteOrRaise(pallux::IDBScript& db, const std::string& format, const pallux::TSqlArgs& args);

// Runs a formatted query and parses its result (an array with one object per row).
TJSONDocument QueryRows(pallux::IDBScript& db, const std::string& format, const pallux::TSqlArgs& args);
TJSONDocument QueryRows(pallux::IDBScript& db, const std::string& sql);

} // namespace zumvo
