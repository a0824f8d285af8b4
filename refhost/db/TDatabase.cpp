#include "TDatabase.h"

#include "TOdbcDatabase.h"
#include "TSqliteDatabase.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace refhost {

TDbValue TDbValue::DateTime(const std::string& v) {
    TDbValue r;
    r.Kind = TKind::DateTime;
    // "YYYY-MM-DD HH:MM:SS[.fff]" -> "YYYY-MM-DDTHH:MM:SS"
    if (v.size() >= 19 && v[4] == '-' && v[7] == '-' && (v[10] == ' ' || v[10] == 'T') && v[13] == ':')
        r.Text = v.substr(0, 10) + "T" + v.substr(11, 8);
    else if (v.size() == 10 && v[4] == '-' && v[7] == '-')
        r.Text = v + "T00:00:00";
    else
        r.Text = v;
    return r;
}

std::string TDbValue::AsText() const {
    switch (Kind) {
    case TKind::Null:
        return {};
    case TKind::Integer:
        return std::to_string(Int);
    case TKind::Float: {
        char buf[64];
        auto [p, ec] = std::to_chars(buf, buf + sizeof buf, Float);
        return ec == std::errc() ? std::string(buf, p) : std::to_string(Float);
    }
    case TKind::Text:
    case TKind::DateTime:
        return Text;
    }
    return {};
}

namespace {

std::string Trim(std::string s) {
    const auto sp = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!s.empty() && sp(static_cast<unsigned char>(s.back())))
        s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && sp(static_cast<unsigned char>(s[i])))
        ++i;
    return s.substr(i);
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::shared_ptr<TDatabase> OpenDatabase(const std::string& connection) {
    if (Trim(connection).empty() || Trim(connection) == "sqlite:")
        throw EDatabaseError("no database given: a SQLite file path or an ODBC connection string is needed");
    if (connection.rfind("sqlite:", 0) == 0)
        return std::make_shared<TSqliteDatabase>(connection.substr(7));
    if (connection.find('=') == std::string::npos)
        return std::make_shared<TSqliteDatabase>(connection);

    // An ODBC connection string: pull out our own key "translate", pass the rest on. Values in
    // braces may hold ';'.
    std::vector<std::string> parts;
    std::string part;
    int braces = 0;
    for (char c : connection) {
        if (c == '{')
            ++braces;
        else if (c == '}' && braces > 0)
            --braces;
        if (c == ';' && braces == 0) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    bool translate = false;
    std::string odbc;
    for (const auto& p : parts) {
        const auto eq = p.find('=');
        if (eq != std::string::npos && Lower(Trim(p.substr(0, eq))) == "translate") {
            const std::string v = Lower(Trim(p.substr(eq + 1)));
            if (v == "on" || v == "1" || v == "yes" || v == "true")
                translate = true;
            else if (v == "off" || v == "0" || v == "no" || v == "false")
                translate = false;
            else
                throw EDatabaseError("translate must be on or off, not " + v);
            continue;
        }
        if (Trim(p).empty())
            continue;
        odbc += (odbc.empty() ? "" : ";") + p;
    }
    return std::make_shared<TOdbcDatabase>(odbc, translate);
}

} // namespace refhost
