// A module test host with a real database: a SQLite file in the test folder, reached through the
// reference host's database script service, with the host's tables and the module's services
// registered as the module registers them.
#pragma once

#include "HostSchema.h"
#include "JsonDocument.h"
#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "TDBScript.h"
#include "TDatabase.h"
#include "implTillBrandSettings.h"
#include "implZumvoInfo.h"
#include "implZumvoTransaction.h"

#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace zumvo::test {

// True when some log line holds the text anywhere.
inline bool LogContains(const TLogCapture& log, const std::string& text) {
    for (const auto& line : log.Lines())
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

class TPersistenceTestHost : public TModuleTestHost {
public:
    TPersistenceTestHost() {
        Database = refhost::OpenDatabase((Folder / "host.db").string());
        refhost::CreateHostTables(*Database, true);
        Container->RegisterFactory(pallux::IDBScript::IID,
                                   pallux::MakeIntf<refhost::TDBScriptFactory>(Database).get());
        Container->RegisterFactory(
            ITillBrandSettings::IID,
            pallux::MakeIntf<TTillBrandSettingsFactory, pallux::IServiceFactory>().get());
        Container->RegisterFactory(IZumvoInfo::IID,
                                   pallux::MakeIntf<TZumvoInfoFactory, pallux::IServiceFactory>().get());
        Container->RegisterFactory(
            IZumvoTransaction::IID,
            pallux::MakeIntf<TZumvoTransactionFactory, pallux::IServiceFactory>().get());
    }
    ~TPersistenceTestHost() {
        Container->ReleaseInstance(IZumvoInfo::IID);
        Database.reset();
        std::filesystem::remove(ModuleSettingsFile());
    }

    // Runs a batch directly on the database.
    void Run(const std::string& batch) { Database->RunBatch(batch); }

    // The SQLite file of the database, for connections of a test's own.
    std::string DatabaseFile() const { return (Folder / "host.db").string(); }

    // The rows of a query, as the module's script service answers them.
    TJSONDocument Rows(const std::string& sql) {
        auto db = pallux::MakeIntf<refhost::TDBScript>(Database);
        std::string json;
        db->Query(sql, json);
        return TJSONDocument::Parse(json);
    }

    // The first column of the first row as text ("" when there is none; NULL reads "").
    std::string Value(const std::string& sql) {
        const auto result = Database->RunBatch(sql);
        if (result.ResultSets.empty() || result.ResultSets.back().Rows.empty())
            return {};
        return result.ResultSets.back().Rows.front().front().AsText();
    }

    // The database's own account of every table, column and row: two equal snapshots mean
    // nothing changed in between.
    std::string Snapshot() {
        std::string out;
        const auto tables =
            Database->RunBatch("SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, "
                               "IS_NULLABLE, COLUMN_DEFAULT "
                               "FROM INFORMATION_SCHEMA.COLUMNS ORDER BY TABLE_NAME, ORDINAL_POSITION");
        std::vector<std::string> names;
        for (const auto& row : tables.ResultSets.back().Rows) {
            for (const auto& v : row)
                out += v.AsText() + "|";
            out += "\n";
            if (names.empty() || names.back() != row[0].AsText())
                names.push_back(row[0].AsText());
        }
        for (const auto& name : names)
            out += name + ": " + Rows("SELECT * FROM [" + name + "]").ToJSON() + "\n";
        return out;
    }

    // Writes the module's settings file (next to the test program).
    void WriteSettings(const std::string& text) { std::ofstream(ModuleSettingsFile()) << text; }

    std::shared_ptr<refhost::TDatabase> Database;
};

} // namespace zumvo::test
