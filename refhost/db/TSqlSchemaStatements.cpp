// The schema statements: CREATE TABLE, ALTER TABLE (ADD, ALTER COLUMN, DROP COLUMN), DROP
// TABLE and TRUNCATE TABLE, with the column definitions and defaults they hold.
#include "TSqlStatementTranslator.h"

namespace refhost::tsql {

std::string TStatementTranslator::DefaultExpr(std::size_t& i, std::size_t e) {
    const std::size_t b = i;
    if (Sym(i, "(")) {
        i = Match(i, e) + 1;
    } else if ((Sym(i, "-") || Sym(i, "+")) && i + 1 < e && FTokens[i + 1].Kind == TKind::Number) {
        i += 2;
    } else if (i < e && FTokens[i].Kind == TKind::Word && Sym(i + 1, "(")) {
        i = Match(i + 1, e) + 1;
    } else if (i < e && FTokens[i].Kind != TKind::Symbol) {
        ++i;
    } else {
        Fail("a default value is missing");
    }
    if (i == b + 2 && FTokens[b].Kind == TKind::Symbol)
        return FTokens[b].Text + FTokens[b + 1].Text; // a signed number
    std::string sql = Emit(b, i);
    // drop the parentheses SQL Server keeps around defaults: ((0)) is 0
    while (sql.size() >= 2 && sql.front() == '(' && sql.back() == ')') {
        int depth = 0;
        bool wraps = true;
        for (std::size_t k = 0; k < sql.size(); ++k) {
            if (sql[k] == '(')
                ++depth;
            else if (sql[k] == ')' && --depth == 0 && k + 1 < sql.size())
                wraps = false;
        }
        if (!wraps)
            break;
        sql = sql.substr(1, sql.size() - 2);
    }
    return sql;
}

TColumnDef TStatementTranslator::ColumnDef(std::size_t b, std::size_t e, TTableDef& table) {
    TColumnDef c;
    std::size_t i = b;
    if (!IsName(i))
        Fail("a column name is missing");
    c.Name = FTokens[i++].Text;
    c.Type = ParseType(i, e);
    while (i < e) {
        if (Word(i, "NULL")) {
            c.NotNull = false;
            ++i;
        } else if (Word(i, "NOT") && Word(i + 1, "NULL")) {
            c.NotNull = true;
            i += 2;
        } else if (Word(i, "IDENTITY")) {
            ++i;
            c.Identity = true;
            if (Sym(i, "(")) {
                const std::size_t close = Match(i, e);
                const auto parts = Split(i + 1, close);
                std::vector<std::int64_t> values;
                for (auto [pb, pe] : parts) {
                    std::string text;
                    for (std::size_t k = pb; k < pe; ++k)
                        text += FTokens[k].Text;
                    auto v = ToInt(text);
                    if (!v)
                        Fail("IDENTITY needs whole numbers");
                    values.push_back(*v);
                }
                if (values.size() != 2)
                    Fail("IDENTITY needs a seed and an increment");
                if (values[1] != 1)
                    Fail("IDENTITY increments other than 1 are not supported");
                c.Seed = values[0];
                i = close + 1;
            }
        } else if (Word(i, "CONSTRAINT") && IsName(i + 1)) {
            i += 2;
            if (!Word(i, "DEFAULT") && !Word(i, "PRIMARY"))
                Fail("constraint " + (i < e ? FTokens[i].Text : std::string("")) + " is not supported");
        } else if (Word(i, "DEFAULT")) {
            ++i;
            c.Default = DefaultExpr(i, e);
        } else if (Word(i, "PRIMARY") && Word(i + 1, "KEY")) {
            i += 2;
            if (Word(i, "CLUSTERED") || Word(i, "NONCLUSTERED"))
                ++i;
            if (!table.PrimaryKey.empty())
                Fail("a table can have only one primary key");
            table.PrimaryKey.push_back(c.Name);
        } else {
            Fail("column option " + FTokens[i].Text + " is not supported");
        }
    }
    if (c.Identity && c.Type.Family != TFamily::Integer)
        Fail("IDENTITY needs an integer column");
    return c;
}

TSqliteStatements TStatementTranslator::CreateTable() {
    std::size_t i = 2; // CREATE TABLE
    TTableDef table;
    table.Name = ObjectName(i);
    if (!Sym(i, "("))
        Fail("CREATE TABLE needs a column list");
    const std::size_t close = Match(i, FTokens.size());
    for (auto [b, e] : Split(i + 1, close)) {
        std::size_t k = b;
        if (Word(k, "CONSTRAINT") && IsName(k + 1))
            k += 2;
        if (Word(k, "PRIMARY") && Word(k + 1, "KEY")) {
            PrimaryKeyConstraint(k + 2, e, table);
            continue;
        }
        if (k != b || Word(b, "UNIQUE") || Word(b, "CHECK") || Word(b, "FOREIGN") || Word(b, "INDEX"))
            Fail("table constraint " + FTokens[k].Text + " is not supported");
        TColumnDef c = ColumnDef(b, e, table);
        for (const auto& other : table.Columns)
            if (pallux::SameText(other.Name, c.Name))
                Fail("column " + c.Name + " is given twice");
        table.Columns.push_back(std::move(c));
    }
    std::size_t after = close + 1;
    if (Word(after, "ON") && (IsName(after + 1) || Word(after + 1, "PRIMARY")))
        after += 2; // filegroup
    if (after != FTokens.size())
        Fail("unexpected " + FTokens[after].Text + " after the column list");
    if (table.Columns.empty())
        Fail("CREATE TABLE without columns");

    const TColumnDef* identity = CheckKeys(table);
    TSqliteStatements r;
    r.Statements.push_back(CreateTableSql(table, table.Name));
    for (const auto& c : table.Columns)
        for (auto& trig : DateTriggerSql(table.Name, c))
            r.Statements.push_back(std::move(trig));
    if (identity && identity->Seed != 1)
        r.Statements.push_back("INSERT INTO sqlite_sequence (name, seq) VALUES (" +
                               pallux::QuotedStr(table.Name) + ", " + std::to_string(identity->Seed - 1) +
                               ")");
    return r;
}

void TStatementTranslator::PrimaryKeyConstraint(std::size_t k, std::size_t e, TTableDef& table) {
    if (Word(k, "CLUSTERED") || Word(k, "NONCLUSTERED"))
        ++k;
    if (!Sym(k, "("))
        Fail("PRIMARY KEY needs a column list");
    const std::size_t kc = Match(k, e);
    if (!table.PrimaryKey.empty())
        Fail("a table can have only one primary key");
    for (auto [cb, ce] : Split(k + 1, kc)) {
        if (!IsName(cb) || !(ce == cb + 1 || (ce == cb + 2 && (Word(cb + 1, "ASC") || Word(cb + 1, "DESC")))))
            Fail("bad PRIMARY KEY column");
        table.PrimaryKey.push_back(FTokens[cb].Text);
    }
    if (kc + 1 != e)
        Fail("unexpected " + FTokens[kc + 1].Text + " after PRIMARY KEY");
}

const TColumnDef* TStatementTranslator::CheckKeys(TTableDef& table) const {
    const TColumnDef* identity = nullptr;
    for (const auto& c : table.Columns) {
        if (!c.Identity)
            continue;
        if (identity)
            Fail("a table can have only one IDENTITY column");
        identity = &c;
    }
    for (const auto& k : table.PrimaryKey)
        if (!table.Find(k))
            Fail("primary key column " + k + " does not exist");
    if (identity) {
        if (table.PrimaryKey.empty())
            table.PrimaryKey.push_back(identity->Name);
        else if (table.PrimaryKey.size() != 1 || !pallux::SameText(table.PrimaryKey[0], identity->Name))
            Fail("an IDENTITY column that is not the primary key is not supported");
    }
    return identity;
}

// CREATE [UNIQUE] [[NON]CLUSTERED] INDEX name ON table ( column [ASC|DESC], ... )
TSqliteStatements TStatementTranslator::CreateIndex() {
    std::size_t i = 1; // CREATE
    const bool unique = Word(i, "UNIQUE");
    if (unique)
        ++i;
    if (Word(i, "CLUSTERED") || Word(i, "NONCLUSTERED"))
        ++i;
    ++i; // INDEX
    if (!IsName(i))
        Fail("an index name is missing");
    const std::string name = FTokens[i++].Text;
    if (!Word(i, "ON"))
        Fail("CREATE INDEX needs ON and a table");
    ++i;
    const std::string table = ObjectName(i);
    if (!Sym(i, "("))
        Fail("CREATE INDEX needs a column list");
    const std::size_t close = Match(i, FTokens.size());
    std::string columns;
    for (auto [b, e] : Split(i + 1, close)) {
        if (!IsName(b) || (e - b > 2) || (e - b == 2 && !Word(b + 1, "ASC") && !Word(b + 1, "DESC")))
            Fail("CREATE INDEX columns must be plain names");
        if (!columns.empty())
            columns += ", ";
        columns +=
            QuoteIdent(FTokens[b].Text) + (e - b == 2 ? " " + pallux::UpperCase(FTokens[b + 1].Text) : "");
    }
    if (close + 1 != FTokens.size())
        Fail("CREATE INDEX options after the column list are not supported");
    TSqliteStatements r;
    r.Statements.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + QuoteIdent(name) +
                           " ON " + QuoteIdent(table) + " (" + columns + ")");
    return r;
}

TSqliteStatements TStatementTranslator::AlterTable() {
    std::size_t i = 2; // ALTER TABLE
    TAlteration t;
    t.Name = ObjectName(i);
    if (FCatalog) {
        t.Info = FCatalog->FindTable(t.Name);
        if (!t.Info)
            Fail("table " + t.Name + " does not exist");
    }
    t.Old = t.Info ? TableFromCatalog(*t.Info) : TTableDef{t.Name, {}, {}};
    t.New = t.Old;
    for (const auto& c : t.Old.Columns)
        t.Copied.push_back(c.Name);

    if (Word(i, "ADD"))
        return AddColumns(Word(i + 1, "COLUMN") ? i + 2 : i + 1, t);
    if (Word(i, "ALTER") && Word(i + 1, "COLUMN"))
        return AlterColumn(i + 2, t);
    if (Word(i, "DROP") && Word(i + 1, "COLUMN"))
        return DropColumns(i + 2, t);
    Fail("this ALTER TABLE form is not supported");
}

TSqliteStatements TStatementTranslator::AddColumns(std::size_t i, TAlteration& t) {
    bool native = true;
    std::vector<TColumnDef> added;
    for (auto [b, e] : Split(i, FTokens.size())) {
        if (Word(b, "CONSTRAINT") || Word(b, "PRIMARY") || Word(b, "UNIQUE") || Word(b, "CHECK") ||
            Word(b, "FOREIGN"))
            Fail("adding constraints is not supported");
        TTableDef scratch;
        TColumnDef c = ColumnDef(b, e, scratch);
        if (c.Identity || !scratch.PrimaryKey.empty())
            Fail("adding an IDENTITY or PRIMARY KEY column is not supported");
        if (t.Info && t.New.Find(c.Name))
            Fail("column names in each table must be unique: " + c.Name + " is already in " + t.Name);
        // SQLite adds a column in place only with a constant default, and a NOT NULL one
        // only with a default other than NULL.
        if (c.Default && !IsLiteral(*c.Default))
            native = false;
        if (c.NotNull && (!c.Default || pallux::SameText(*c.Default, "NULL")))
            native = false;
        t.New.Columns.push_back(c);
        added.push_back(std::move(c));
    }
    TSqliteStatements r;
    if (!FCatalog)
        return r;
    if (!native) {
        r.Statements = RebuildSql(t.Old, t.New, t.Info->AutoIncrement, t.Copied);
        return r;
    }
    for (const auto& c : added) {
        r.Statements.push_back("ALTER TABLE " + QuoteIdent(t.Old.Name) + " ADD COLUMN " +
                               ColumnSql(t.New, c, false));
        for (auto& trig : DateTriggerSql(t.Old.Name, c))
            r.Statements.push_back(std::move(trig));
    }
    return r;
}

namespace {

// Whether ALTER COLUMN may change a column of the family from to the family to: within numbers,
// from a number to text, and from a date to a date and time.
bool CanConvert(TFamily from, TFamily to) {
    const auto numeric = [](TFamily f) {
        return f == TFamily::Integer || f == TFamily::Real || f == TFamily::Decimal;
    };
    return from == to || (numeric(from) && numeric(to)) || (numeric(from) && to == TFamily::Char) ||
           (from == TFamily::Date && to == TFamily::DateTime);
}

} // namespace

TSqliteStatements TStatementTranslator::AlterColumn(std::size_t i, TAlteration& t) {
    if (!IsName(i))
        Fail("a column name is missing");
    const std::string column = FTokens[i++].Text;
    const TSqlType type = ParseType(i, FTokens.size());
    bool notNull = false;
    if (Word(i, "NULL")) {
        ++i;
    } else if (Word(i, "NOT") && Word(i + 1, "NULL")) {
        notNull = true;
        i += 2;
    }
    if (i != FTokens.size())
        Fail("unexpected " + FTokens[i].Text + " in ALTER COLUMN");
    TSqliteStatements r;
    if (!FCatalog)
        return r;
    TColumnDef* c = t.New.Find(column);
    if (!c)
        Fail("column " + column + " does not exist in " + t.Name);
    if (c->Identity)
        Fail("an IDENTITY column cannot be altered");
    if (!CanConvert(c->Type.Family, type.Family))
        Fail("changing column " + column + " from " + c->Type.Name + " to " + type.Name +
             " is not supported");
    c->Type = type;
    c->NotNull = notNull;
    r.Statements = RebuildSql(t.Old, t.New, t.Info->AutoIncrement, t.Copied);
    return r;
}

TSqliteStatements TStatementTranslator::DropColumns(std::size_t i, TAlteration& t) {
    std::vector<std::string> dropped;
    for (auto [b, e] : Split(i, FTokens.size())) {
        if (e != b + 1 || !IsName(b))
            Fail("bad column name in DROP COLUMN");
        dropped.push_back(FTokens[b].Text);
    }
    TSqliteStatements r;
    if (!FCatalog)
        return r;
    for (const auto& d : dropped) {
        if (!t.New.Find(d))
            Fail("column " + d + " does not exist in " + t.Name);
        if (t.New.InPrimaryKey(d))
            Fail("a primary key column cannot be dropped");
        std::erase_if(t.New.Columns, [&](const TColumnDef& c) { return pallux::SameText(c.Name, d); });
        std::erase_if(t.Copied, [&](const std::string& c) { return pallux::SameText(c, d); });
    }
    if (t.New.Columns.empty())
        Fail("a table needs at least one column");
    r.Statements = RebuildSql(t.Old, t.New, t.Info->AutoIncrement, t.Copied);
    return r;
}

TSqliteStatements TStatementTranslator::DropTable() {
    std::size_t i = 2; // DROP TABLE
    bool ifExists = false;
    if (Word(i, "IF") && Word(i + 1, "EXISTS")) {
        ifExists = true;
        i += 2;
    }
    TSqliteStatements r;
    for (auto [b, e] : Split(i, FTokens.size())) {
        std::size_t k = b;
        const std::string name = ObjectName(k);
        if (k != e)
            Fail("bad table name in DROP TABLE");
        r.Statements.push_back(std::string("DROP TABLE ") + (ifExists ? "IF EXISTS " : "") +
                               QuoteIdent(name));
    }
    return r;
}

TSqliteStatements TStatementTranslator::Truncate() {
    std::size_t i = 2; // TRUNCATE TABLE
    const std::string name = ObjectName(i);
    if (i != FTokens.size())
        Fail("unexpected " + FTokens[i].Text + " after the table name");
    TSqliteStatements r;
    r.Statements.push_back("DELETE FROM " + QuoteIdent(name));
    if (FCatalog) {
        auto info = FCatalog->FindTable(name);
        if (info && info->AutoIncrement)
            r.Statements.push_back("DELETE FROM sqlite_sequence WHERE name = " +
                                   pallux::QuotedStr(info->Name));
    }
    return r;
}

} // namespace refhost::tsql
