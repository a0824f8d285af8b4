// SQLite's own SQL run on a database file from a connection of the test's own, as another
// process would: triggers that make a write fail, locks, raw reads.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace zumvo::test {

// Runs sql on the file; a failure fails the test with SQLite's message.
inline void RunSqlite(const std::string& file, const std::string& sql) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &h), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(h);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

} // namespace zumvo::test
