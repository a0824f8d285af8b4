#include "TSqlTypes.h"

#include "TSqlText.h"
#include "clsSysUtils.h"

#include <algorithm>
#include <cctype>

namespace refhost::tsql {

std::string TSqlType::Decl() const {
    switch (Family) {
    case TFamily::Char:
        return Name + "(" + std::to_string(Length) + ")";
    case TFamily::Decimal:
        if (Name == "DECIMAL" || Name == "NUMERIC")
            return Name + "(" + std::to_string(Precision) + "," + std::to_string(Scale) + ")";
        return Name;
    case TFamily::Other:
        return Raw;
    default:
        return Name;
    }
}

std::optional<TSqlType> MakeType(const std::string& name, const std::vector<std::string>& args,
                                 std::string& error) {
    TSqlType t;
    t.Name = pallux::UpperCase(name);
    const auto num = [&](std::size_t k) -> std::optional<std::int64_t> {
        return k < args.size() ? ToInt(args[k]) : std::nullopt;
    };
    const std::string& n = t.Name;
    if (n == "INT" || n == "INTEGER" || n == "BIGINT" || n == "SMALLINT" || n == "TINYINT" || n == "BIT") {
        t.Family = TFamily::Integer;
        if (n == "INTEGER")
            t.Name = "INT";
        if (!args.empty()) {
            error = "data type " + n + " takes no length";
            return std::nullopt;
        }
    } else if (n == "FLOAT" || n == "REAL") {
        t.Family = TFamily::Real;
        if (args.size() > 1 || (args.size() == 1 && !num(0))) {
            error = "bad precision for data type " + n;
            return std::nullopt;
        }
    } else if (n == "DECIMAL" || n == "NUMERIC") {
        t.Family = TFamily::Decimal;
        t.Precision = 18;
        if (!args.empty()) {
            if (!num(0) || (args.size() == 2 && !num(1)) || args.size() > 2) {
                error = "bad precision for data type " + n;
                return std::nullopt;
            }
            t.Precision = static_cast<int>(*num(0));
            t.Scale = args.size() == 2 ? static_cast<int>(*num(1)) : 0;
        }
    } else if (n == "MONEY" || n == "SMALLMONEY") {
        t.Family = TFamily::Decimal;
        t.Scale = 4;
    } else if (n == "VARCHAR" || n == "NVARCHAR" || n == "CHAR" || n == "NCHAR") {
        t.Family = TFamily::Char;
        t.Length = 1; // the length of a declaration without one
        if (args.size() > 1) {
            error = "bad length for data type " + n;
            return std::nullopt;
        }
        if (args.size() == 1) {
            if (pallux::SameText(args[0], "MAX") || args[0] == "-1") {
                t.Length = -1;
            } else if (auto v = num(0); v && *v > 0) {
                t.Length = *v;
            } else {
                error = "bad length for data type " + n;
                return std::nullopt;
            }
        }
    } else if (n == "DATETIME" || n == "SMALLDATETIME" || n == "DATETIME2") {
        t.Family = TFamily::DateTime;
    } else if (n == "DATE") {
        t.Family = TFamily::Date;
    } else {
        error = "data type " + name + " is not supported";
        return std::nullopt;
    }
    return t;
}

TSqlType TypeFromDecl(const std::string& decl) {
    std::string name;
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < decl.size() && decl[i] != '(')
        name += decl[i++];
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (i < decl.size()) {
        const std::size_t close = decl.find(')', i);
        std::string inner =
            decl.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = inner.find(',', start);
            std::string a =
                inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            a.erase(std::remove(a.begin(), a.end(), ' '), a.end());
            args.push_back(a);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    std::string error;
    if (auto t = MakeType(name, args, error))
        return *t;
    TSqlType other;
    other.Name = pallux::UpperCase(name);
    other.Raw = decl;
    return other;
}

} // namespace refhost::tsql

namespace refhost {

TSqlTypeInfo DescribeDeclType(const std::string& declType) {
    const tsql::TSqlType t = tsql::TypeFromDecl(declType);
    TSqlTypeInfo info;
    std::string name = t.Name;
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    info.DataType = name;
    if (t.Family == tsql::TFamily::Char)
        info.CharacterMaximumLength = t.Length;
    return info;
}

} // namespace refhost
