// T-SQL functions: each one this translator knows is a row of a table, with its argument
// counts and the emitter that writes it for SQLite.
#include "TSqlStatementTranslator.h"

#include <algorithm>
#include <cstdlib>

namespace refhost::tsql {

// One call of a function as its emitter sees it: the name token, the argument ranges, and the
// translator that emits them.
class TFunctionCall {
public:
    TFunctionCall(TStatementTranslator& translator, std::size_t nameAt, std::size_t close)
        : FTr(translator), FNameAt(nameAt), FArgs(translator.Split(nameAt + 2, close)) {}

    std::size_t Count() const { return FArgs.size(); }
    const TStatementTranslator::TRanges& Ranges() const { return FArgs; }
    const TSqlToken& Token(std::size_t k) const { return FTr.FTokens[k]; }
    // The function's name as written.
    const std::string& Name() const { return Token(FNameAt).Text; }
    // Argument k as SQLite text.
    std::string Arg(std::size_t k) { return FTr.Emit(FArgs[k].first, FArgs[k].second); }
    // The type of argument k when it is a plain column the catalogue knows.
    std::optional<TSqlType> ArgType(std::size_t k) const {
        return FTr.ColumnType(FArgs[k].first, FArgs[k].second);
    }
    std::string Emit(std::size_t b, std::size_t e) { return FTr.Emit(b, e); }
    std::string CastTo(const std::string& expr, std::size_t b, std::size_t e) {
        return FTr.CastTo(expr, b, e);
    }
    [[noreturn]] void Fail(const std::string& reason) const { FTr.Fail(reason); }

private:
    TStatementTranslator& FTr;
    std::size_t FNameAt;
    TStatementTranslator::TRanges FArgs;
};

namespace {

using TEmitter = std::string (*)(TFunctionCall&);

struct TFunctionForm {
    std::string_view Name; // upper case; calls match it in any case
    std::size_t MinArgs;
    std::size_t MaxArgs;
    TEmitter Emit;
};

std::string LocalNow(TFunctionCall&) {
    return "datetime('now','localtime')";
}

std::string UtcNow(TFunctionCall&) {
    return "datetime('now')";
}

std::string ScopeIdentity(TFunctionCall&) {
    return "NULLIF(last_insert_rowid(), 0)";
}

std::string IsNull(TFunctionCall& f) {
    std::string fallback = f.Arg(1);
    const auto [fb, fe] = f.Ranges()[1];
    if (fe - fb == 1 && f.Token(fb).Kind == TKind::Number) {
        // a floating column replaced by a whole number stays floating
        if (auto type = f.ArgType(0))
            if (type->Family == TFamily::Real || type->Family == TFamily::Decimal)
                fallback = "CAST(" + f.Token(fb).Text + " AS REAL)";
    } else if (fe - fb == 1 && f.Token(fb).Kind == TKind::String) {
        // ISNULL answers the type of its first argument: a text replacement is converted.
        if (auto type = f.ArgType(0)) {
            const std::string& text = f.Token(fb).Text;
            switch (type->Family) {
            case TFamily::Integer:
            case TFamily::Real:
            case TFamily::Decimal: {
                char* endp = nullptr;
                const std::string trimmed = text;
                if (!trimmed.empty()) {
                    std::strtod(trimmed.c_str(), &endp);
                    if (*endp != '\0')
                        f.Fail("conversion of '" + text + "' to a number fails");
                }
                fallback = "CAST(" + SqliteText(text) + " AS " +
                           (type->Family == TFamily::Integer ? "INTEGER" : "REAL") + ")";
                break;
            }
            case TFamily::DateTime:
                fallback = text.empty() ? "'1900-01-01 00:00:00'" : "datetime(" + SqliteText(text) + ")";
                break;
            default:
                break;
            }
        }
    }
    return "IFNULL(" + f.Arg(0) + ", " + fallback + ")";
}

std::string Cast(TFunctionCall& f) {
    const auto [b, e] = f.Ranges()[0];
    std::optional<std::size_t> as;
    int depth = 0;
    for (std::size_t k = b; k < e; ++k) {
        if (f.Token(k).IsSymbol("("))
            ++depth;
        else if (f.Token(k).IsSymbol(")"))
            --depth;
        else if (depth == 0 && f.Token(k).Is("AS"))
            as = k;
    }
    if (!as)
        f.Fail("CAST without AS");
    return f.CastTo(f.Emit(b, *as), *as + 1, e);
}

std::string Convert(TFunctionCall& f) {
    return f.CastTo(f.Arg(1), f.Ranges()[0].first, f.Ranges()[0].second);
}

// A DATEADD date part: the SQLite modifier unit and how many of them one part is.
struct TDatePart {
    std::string_view Name;
    std::string_view Unit;
    std::int64_t Factor;
};

constexpr TDatePart KDateParts[] = {
    {"YEAR", "years", 1}, {"YY", "years", 1},       {"YYYY", "years", 1},     {"QUARTER", "months", 3},
    {"QQ", "months", 3},  {"Q", "months", 3},       {"MONTH", "months", 1},   {"MM", "months", 1},
    {"M", "months", 1},   {"WEEK", "days", 7},      {"WK", "days", 7},        {"WW", "days", 7},
    {"DAY", "days", 1},   {"DD", "days", 1},        {"D", "days", 1},         {"DAYOFYEAR", "days", 1},
    {"DY", "days", 1},    {"Y", "days", 1},         {"WEEKDAY", "days", 1},   {"DW", "days", 1},
    {"HOUR", "hours", 1}, {"HH", "hours", 1},       {"MINUTE", "minutes", 1}, {"MI", "minutes", 1},
    {"N", "minutes", 1},  {"SECOND", "seconds", 1}, {"SS", "seconds", 1},     {"S", "seconds", 1}};

std::string DateAdd(TFunctionCall& f) {
    const auto [ub, ue] = f.Ranges()[0];
    if (ue - ub != 1 || f.Token(ub).Kind != TKind::Word)
        f.Fail("DATEADD needs a date part");
    const auto* part =
        std::find_if(std::begin(KDateParts), std::end(KDateParts), [&f, ub = ub](const TDatePart& p) {
            return pallux::SameText(p.Name, f.Token(ub).Text);
        });
    if (part == std::end(KDateParts))
        f.Fail("DATEADD date part " + f.Token(ub).Text + " is not supported");
    std::string unit(part->Unit);
    std::int64_t factor = part->Factor;
    const auto [nb, ne] = f.Ranges()[1];
    std::optional<std::int64_t> literal;
    if (ne - nb == 1 && f.Token(nb).Kind == TKind::Number)
        literal = ToInt(f.Token(nb).Text);
    else if (ne - nb == 2 && f.Token(nb).IsSymbol("-") && f.Token(nb + 1).Kind == TKind::Number)
        if (auto v = ToInt(f.Token(nb + 1).Text))
            literal = -*v;
    if (unit == "years") {
        unit = "months";
        factor *= 12;
    }
    std::string modifier;
    if (literal) {
        const std::int64_t n = *literal * factor;
        modifier = pallux::QuotedStr((n >= 0 ? "+" : "") + std::to_string(n) + " " + unit);
    } else {
        modifier =
            "printf('%+d " + unit + "', CAST(" + f.Arg(1) + " AS INTEGER) * " + std::to_string(factor) + ")";
    }
    const std::string date = f.Arg(2);
    if (unit != "months")
        return "datetime(" + date + ", " + modifier + ")";
    // SQL Server keeps the day within the target month (31 March - 1 month = 29 February);
    // SQLite would run over into the next month.
    const std::string lastDay = "CAST(strftime('%d', " + date + ", 'start of month', " + modifier +
                                ", '+1 months', '-1 days') AS INTEGER)";
    const std::string day = "MIN(CAST(strftime('%d', " + date + ") AS INTEGER), " + lastDay + ")";
    return "datetime(date(" + date + ", 'start of month', " + modifier + ", printf('+%d days', " + day +
           " - 1)) || ' ' || time(" + date + "))";
}

std::string Len(TFunctionCall& f) {
    return "length(rtrim(" + f.Arg(0) + "))";
}

std::string Substring(TFunctionCall& f) {
    return "substr(" + f.Arg(0) + ", " + f.Arg(1) + ", " + f.Arg(2) + ")";
}

std::string CharIndex(TFunctionCall& f) {
    return "instr(" + f.Arg(1) + ", " + f.Arg(0) + ")";
}

std::string ObjectId(TFunctionCall& f) {
    for (auto [ab, ae] : f.Ranges())
        if (ae - ab != 1 || f.Token(ab).Kind != TKind::String)
            f.Fail("OBJECT_ID needs literal texts");
    std::string object = f.Token(f.Ranges()[0].first).Text;
    if (auto dot = object.rfind('.'); dot != std::string::npos)
        object = object.substr(dot + 1);
    if (object.size() >= 2 &&
        ((object.front() == '[' && object.back() == ']') || (object.front() == '"' && object.back() == '"')))
        object = object.substr(1, object.size() - 2);
    std::string types = "('table', 'view')";
    if (f.Count() == 2) {
        const std::string& type = f.Token(f.Ranges()[1].first).Text;
        if (pallux::SameText(type, "U"))
            types = "('table')";
        else if (pallux::SameText(type, "V"))
            types = "('view')";
        else
            f.Fail("OBJECT_ID type '" + type + "' is not supported");
    }
    return "(SELECT rootpage FROM sqlite_master WHERE type IN " + types +
           " AND name = " + SqliteText(object) + " COLLATE NOCASE)";
}

// Functions SQLite has under the same name: only their argument count is checked, and the name
// is written in upper case.
std::string SameName(TFunctionCall& f) {
    std::string s = pallux::UpperCase(f.Name()) + "(";
    for (std::size_t k = 0; k < f.Count(); ++k)
        s += (k ? ", " : "") + f.Arg(k);
    return s + ")";
}

// Functions SQLite lacks or spells otherwise.
constexpr TFunctionForm KTranslated[] = {{"GETDATE", 0, 0, LocalNow},
                                         {"SYSDATETIME", 0, 0, LocalNow},
                                         {"CURRENT_TIMESTAMP", 0, 0, LocalNow},
                                         {"GETUTCDATE", 0, 0, UtcNow},
                                         {"SYSUTCDATETIME", 0, 0, UtcNow},
                                         {"SCOPE_IDENTITY", 0, 0, ScopeIdentity},
                                         {"ISNULL", 2, 2, IsNull},
                                         {"CAST", 1, 1, Cast},
                                         {"CONVERT", 2, 2, Convert},
                                         {"DATEADD", 3, 3, DateAdd},
                                         {"LEN", 1, 1, Len},
                                         {"SUBSTRING", 3, 3, Substring},
                                         {"CHARINDEX", 2, 2, CharIndex},
                                         {"OBJECT_ID", 1, 2, ObjectId}};

constexpr TFunctionForm KSameName[] = {
    {"UPPER", 1, 1, SameName},      {"LOWER", 1, 1, SameName},   {"LTRIM", 1, 1, SameName},
    {"RTRIM", 1, 1, SameName},      {"ABS", 1, 1, SameName},     {"COUNT", 1, 1, SameName},
    {"SUM", 1, 1, SameName},        {"MIN", 1, 1, SameName},     {"MAX", 1, 1, SameName},
    {"ROUND", 2, 2, SameName},      {"REPLACE", 3, 3, SameName}, {"NULLIF", 2, 2, SameName},
    {"COALESCE", 2, 1000, SameName}};

const TFunctionForm* FindForm(std::string_view name) {
    const auto named = [&](const TFunctionForm& form) { return pallux::SameText(form.Name, name); };
    if (auto* it = std::find_if(std::begin(KTranslated), std::end(KTranslated), named);
        it != std::end(KTranslated))
        return it;
    if (auto* it = std::find_if(std::begin(KSameName), std::end(KSameName), named); it != std::end(KSameName))
        return it;
    return nullptr;
}

} // namespace

std::string TStatementTranslator::EmitFunction(std::size_t i, std::size_t close) {
    TFunctionCall call(*this, i, close);
    const TFunctionForm* form = FindForm(FTokens[i].Text);
    if (!form)
        Fail("function " + FTokens[i].Text + " is not supported");
    if (call.Count() < form->MinArgs || call.Count() > form->MaxArgs)
        Fail("wrong number of arguments for " + FTokens[i].Text);
    return form->Emit(call);
}

} // namespace refhost::tsql
