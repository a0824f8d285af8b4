#include "TSqlSchema.h"

#include "TSqlText.h"

#include <cctype>

namespace refhost::tsql {

bool IsLiteral(const std::string& sql) {
    if (sql.empty())
        return false;
    if (pallux::SameText(sql, "NULL"))
        return true;
    if (sql.size() >= 2 && sql.front() == '\'' && sql.back() == '\'') {
        // one string literal: every inner quote is doubled
        for (std::size_t i = 1; i + 1 < sql.size(); ++i) {
            if (sql[i] == '\'') {
                if (i + 2 >= sql.size() || sql[i + 1] != '\'')
                    return false;
                ++i;
            }
        }
        return true;
    }
    std::size_t i = (sql[0] == '-' || sql[0] == '+') ? 1 : 0;
    bool digits = false;
    for (; i < sql.size(); ++i) {
        const char c = sql[i];
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits = true;
        else if (c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+')
            return false;
    }
    return digits;
}

std::string ColumnSql(const TTableDef& table, const TColumnDef& c, bool allowPrimaryKey) {
    std::string s = QuoteIdent(c.Name) + " ";
    if (c.Identity)
        return s + "INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT";
    s += c.Type.Decl();
    if (c.Type.Family == TFamily::Char)
        s += " COLLATE NOCASE";
    const bool inKey = table.InPrimaryKey(c.Name);
    if (c.NotNull || inKey)
        s += " NOT NULL";
    if (c.Default)
        s += " DEFAULT " + (IsLiteral(*c.Default) ? *c.Default : "(" + *c.Default + ")");
    if (allowPrimaryKey && inKey && table.PrimaryKey.size() == 1)
        s += " PRIMARY KEY";
    if (c.Type.Family == TFamily::Char && c.Type.Length > 0)
        s += " CONSTRAINT " + QuoteIdent("String or binary data would be truncated in column " + c.Name) +
             " CHECK (length(" + QuoteIdent(c.Name) + ") <= " + std::to_string(c.Type.Length) + ")";
    if (c.Type.Family == TFamily::DateTime || c.Type.Family == TFamily::Date)
        s += " CONSTRAINT " +
             QuoteIdent("Conversion failed when converting date and/or time in column " + c.Name) +
             " CHECK (" + QuoteIdent(c.Name) + " IS NULL OR datetime(" + QuoteIdent(c.Name) +
             ") IS NOT NULL)";
    return s;
}

std::string CreateTableSql(const TTableDef& table, const std::string& sqlName) {
    std::string s = "CREATE TABLE " + QuoteIdent(sqlName) + " (";
    for (std::size_t i = 0; i < table.Columns.size(); ++i)
        s += (i ? ", " : "") + ColumnSql(table, table.Columns[i], true);
    if (table.PrimaryKey.size() > 1) {
        s += ", PRIMARY KEY (";
        for (std::size_t i = 0; i < table.PrimaryKey.size(); ++i)
            s += (i ? ", " : "") + QuoteIdent(table.PrimaryKey[i]);
        s += ")";
    }
    return s + ")";
}

std::vector<std::string> DateTriggerSql(const std::string& table, const TColumnDef& c) {
    if (c.Type.Family != TFamily::DateTime && c.Type.Family != TFamily::Date)
        return {};
    const std::string fn = c.Type.Family == TFamily::Date ? "date" : "datetime";
    const std::string col = QuoteIdent(c.Name);
    const std::string when = " WHEN NEW." + col + " IS NOT NULL AND NEW." + col + " IS NOT " + fn + "(NEW." +
                             col + ") BEGIN UPDATE " + QuoteIdent(table) + " SET " + col + " = " + fn +
                             "(NEW." + col + ") WHERE rowid = NEW.rowid; END";
    return {"CREATE TRIGGER " + QuoteIdent("tsql_" + table + "_" + c.Name + "_ins") + " AFTER INSERT ON " +
                QuoteIdent(table) + when,
            "CREATE TRIGGER " + QuoteIdent("tsql_" + table + "_" + c.Name + "_upd") + " AFTER UPDATE OF " +
                col + " ON " + QuoteIdent(table) + when};
}

TTableDef TableFromCatalog(const TSqlTableInfo& info) {
    TTableDef t;
    t.Name = info.Name;
    std::vector<std::pair<int, std::string>> key;
    for (const auto& ci : info.Columns) {
        TColumnDef c;
        c.Name = ci.Name;
        c.Type = TypeFromDecl(ci.DeclType);
        c.NotNull = ci.NotNull;
        c.Default = ci.Default;
        if (ci.PrimaryKeyIndex > 0)
            key.emplace_back(ci.PrimaryKeyIndex, ci.Name);
        c.Identity = info.AutoIncrement && ci.PrimaryKeyIndex > 0 && pallux::SameText(ci.DeclType, "INTEGER");
        if (c.Identity)
            c.Type = TypeFromDecl("INT");
        t.Columns.push_back(std::move(c));
    }
    std::sort(key.begin(), key.end());
    for (auto& k : key)
        t.PrimaryKey.push_back(k.second);
    return t;
}

std::vector<std::string> RebuildSql(const TTableDef& oldDef, const TTableDef& newDef, bool autoIncrement,
                                    const std::vector<std::string>& copied) {
    const std::string tmp = "tsql_rebuild_" + newDef.Name;
    std::vector<std::string> s{CreateTableSql(newDef, tmp)};
    if (!copied.empty()) {
        std::string cols;
        for (std::size_t i = 0; i < copied.size(); ++i)
            cols += (i ? ", " : "") + QuoteIdent(copied[i]);
        s.push_back("INSERT INTO " + QuoteIdent(tmp) + " (" + cols + ") SELECT " + cols + " FROM " +
                    QuoteIdent(oldDef.Name));
    }
    if (autoIncrement) {
        s.push_back("DELETE FROM sqlite_sequence WHERE name = " + pallux::QuotedStr(tmp));
        s.push_back("INSERT INTO sqlite_sequence (name, seq) SELECT " + pallux::QuotedStr(tmp) +
                    ", seq FROM sqlite_sequence WHERE name = " + pallux::QuotedStr(oldDef.Name) +
                    " COLLATE NOCASE");
    }
    s.push_back("DROP TABLE " + QuoteIdent(oldDef.Name));
    s.push_back("ALTER TABLE " + QuoteIdent(tmp) + " RENAME TO " + QuoteIdent(newDef.Name));
    for (const auto& c : newDef.Columns)
        for (auto& trig : DateTriggerSql(newDef.Name, c))
            s.push_back(std::move(trig));
    return s;
}

std::string InformationSchemaColumns() {
    const std::string base =
        "upper(trim(CASE WHEN instr(p.type, '(') > 0 THEN substr(p.type, 1, instr(p.type, "
        "'(') - 1) ELSE p.type END))";
    return "(SELECT 'dbo' AS TABLE_SCHEMA, m.name COLLATE NOCASE AS TABLE_NAME, p.name COLLATE NOCASE AS "
           "COLUMN_NAME, p.cid + 1 AS ORDINAL_POSITION, p.dflt_value AS COLUMN_DEFAULT, CASE WHEN "
           "p.\"notnull\" "
           "OR p.pk > 0 THEN 'NO' ELSE 'YES' END AS IS_NULLABLE, CASE " +
           base + " WHEN 'INTEGER' THEN 'int' ELSE lower(" + base +
           ") END COLLATE NOCASE AS DATA_TYPE, CASE WHEN " + base +
           " IN ('VARCHAR', 'NVARCHAR', 'CHAR', 'NCHAR') THEN CAST(substr(p.type, instr(p.type, '(') + 1, "
           "instr(p.type, ')') - instr(p.type, '(') - 1) AS INTEGER) END AS CHARACTER_MAXIMUM_LENGTH FROM "
           "sqlite_master AS m JOIN pragma_table_info(m.name) AS p WHERE m.type = 'table' AND m.name NOT "
           "LIKE "
           "'sqlite!_%' ESCAPE '!')";
}

std::string InformationSchemaTables() {
    return "(SELECT 'dbo' AS TABLE_SCHEMA, name COLLATE NOCASE AS TABLE_NAME, CASE type WHEN 'view' THEN "
           "'VIEW' "
           "ELSE 'BASE TABLE' END AS TABLE_TYPE FROM sqlite_master WHERE type IN ('table', 'view') AND name "
           "NOT "
           "LIKE 'sqlite!_%' ESCAPE '!')";
}

std::string SysIndexes() {
    return "(SELECT i.name COLLATE NOCASE AS name, t.rootpage AS object_id FROM sqlite_master AS i JOIN "
           "sqlite_master AS t ON t.type = 'table' AND t.name = i.tbl_name WHERE i.type = 'index' AND i.name "
           "NOT LIKE 'sqlite!_%' ESCAPE '!')";
}

} // namespace refhost::tsql
