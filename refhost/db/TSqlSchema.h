// The table model of the schema statements and the SQLite text that builds it: columns with
// their T-SQL rules (lengths, dates, identity) kept as constraints and triggers, the rebuild
// that changes a table SQLite cannot alter in place, and the INFORMATION_SCHEMA views.
#pragma once

#include "TSqlTypes.h"
#include "clsSysUtils.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refhost::tsql {

struct TColumnDef {
    std::string Name;
    TSqlType Type;
    bool NotNull = false;
    bool Identity = false;
    std::int64_t Seed = 1;
    std::optional<std::string> Default; // SQLite expression text
};

struct TTableDef {
    std::string Name;
    std::vector<TColumnDef> Columns;
    std::vector<std::string> PrimaryKey;

    bool InPrimaryKey(const std::string& column) const {
        return std::any_of(PrimaryKey.begin(), PrimaryKey.end(),
                           [&](const std::string& k) { return pallux::SameText(k, column); });
    }
    TColumnDef* Find(const std::string& column) {
        for (auto& c : Columns)
            if (pallux::SameText(c.Name, column))
                return &c;
        return nullptr;
    }
};

// True when the SQLite expression is one literal: NULL, a number or one quoted text.
bool IsLiteral(const std::string& sql);

// The SQLite column definition; a single-column primary key goes on the column when allowed.
std::string ColumnSql(const TTableDef& table, const TColumnDef& c, bool allowPrimaryKey);

// CREATE TABLE for the definition, under the given name.
std::string CreateTableSql(const TTableDef& table, const std::string& sqlName);

// Date and time values are kept as 'YYYY-MM-DD HH:MM:SS' text so that they compare and sort as
// SQL Server's values do; these triggers bring any other accepted spelling to that form.
std::vector<std::string> DateTriggerSql(const std::string& table, const TColumnDef& c);

// The definition of a table as the catalogue reports it.
TTableDef TableFromCatalog(const TSqlTableInfo& info);

// Recreates a table under a new definition, keeping its rows (the copied columns) and its
// identity counter; SQLite cannot change a column in place.
std::vector<std::string> RebuildSql(const TTableDef& oldDef, const TTableDef& newDef, bool autoIncrement,
                                    const std::vector<std::string>& copied);

// The emulations of INFORMATION_SCHEMA.COLUMNS and .TABLES over the SQLite catalogue.
std::string InformationSchemaColumns();
std::string InformationSchemaTables();
// The emulation of sys.indexes (name, and object_id as OBJECT_ID answers it); the automatic
// indexes of keys are left out, as they have no name in T-SQL.
std::string SysIndexes();

} // namespace refhost::tsql
