#include "clsDBAccess.h"

#include "ZumvoLog.h"
#include "clsModuleContainer.h"

#include <charconv>
#include <stdexcept>

namespace zumvo {

pallux::IntfPtr<pallux::IDBScript> NewDBScript() {
    pallux::IntfPtr<pallux::IDBScript> db;
    Require(CreateService(db) && db, "Could not create DBScript");
    return db;
}

std::int32_t IdentifierFromText(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    if (b == e)
        return -1;
    std::int32_t value = 0;
    const char* first = text.data() + b;
    const char* last = text.data() + e;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last)
        return -1;
    return value;
}

void ExecuteOrRaise(pallux::IDBScript& db, const std::string& format, const pallux::TSqlArgs& args) {
    if (!db.ExecuteFmt(format, args))
        throw std::runtime_error("The database refused the statement: " + format);
}

TJSONDocument QueryRows(pallux::IDBScript& db, const std::string& format, const pallux::TSqlArgs& args) {
    std::string json;
    db.QueryFmt(format, args, json);
    TJSONDocument rows = TJSONDocument::Parse(json);
    if (!rows.IsArray())
        throw std::runtime_error("The database answered a query with something other than rows");
    return rows;
}

TJSONDocument QueryRows(pallux::IDBScript& db, const std::string& sql) {
    std::string json;
    db.Query(sql, json);
    TJSONDocument rows = TJSONDocument::Parse(json);
    if (!rows.IsArray())
        throw std::runtime_error("The database answered a query with something other than rows");
    return rows;
}

} // namespace zumvo
