#include "TDBScript.h"

#include "clsRapidJson.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iostream>
#include <limits>

namespace refhost {

namespace {

// Valid UTF-8 passes unchanged; a byte that is not part of a valid sequence is taken as a
// Latin-1 character (the code page older databases keep their texts in).
std::string ToUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        if (c < 0x80)
            len = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            len = 2;
        else if (c >= 0xE0 && c <= 0xEF)
            len = 3;
        else if (c >= 0xF0 && c <= 0xF4)
            len = 4;
        bool valid = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (valid && len == 3) {
            const auto c1 = static_cast<unsigned char>(s[i + 1]);
            valid = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0); // overlong, surrogates
        } else if (valid && len == 4) {
            const auto c1 = static_cast<unsigned char>(s[i + 1]);
            valid = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
        }
        if (valid) {
            out.append(s, i, len);
            i += len;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

const char* ArgType(const pallux::TSqlArg& a) {
    switch (a.index()) {
    case 0:
        return "an integer";
    case 1:
        return "a text";
    default:
        return "a floating value";
    }
}

} // namespace

std::string FormatSql(const std::string& format, const pallux::TSqlArgs& args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    std::size_t next = 0;
    const auto take = [&](char placeholder, std::size_t wanted) -> const pallux::TSqlArg& {
        if (next >= args.size())
            throw ESqlFormatError("too few arguments for the format: %" + std::string(1, placeholder) +
                                  " number " + std::to_string(next + 1) + " has none in: " + format);
        const auto& a = args[next++];
        if (a.index() != wanted)
            throw ESqlFormatError("argument " + std::to_string(next) + " for %" +
                                  std::string(1, placeholder) + " is " + ArgType(a) + " in: " + format);
        return a;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (i + 1 >= format.size())
            throw ESqlFormatError("the format ends with a lone % in: " + format);
        const char p = format[++i];
        switch (p) {
        case '%':
            out += '%';
            break;
        case 'd':
            out += std::to_string(std::get<std::int64_t>(take(p, 0)));
            break;
        case 's':
            out += std::get<std::string>(take(p, 1));
            break;
        case 'f': {
            const double v = std::get<double>(take(p, 2));
            if (!std::isfinite(v))
                throw ESqlFormatError("argument " + std::to_string(next) +
                                      " for %f is not a finite number in: " + format);
            char buf[512];
            auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
            if (ec != std::errc())
                throw ESqlFormatError("argument " + std::to_string(next) +
                                      " for %f is out of range in: " + format);
            out.append(buf, end);
            break;
        }
        default:
            throw ESqlFormatError("unknown placeholder %" + std::string(1, p) + " in: " + format);
        }
    }
    if (next != args.size())
        throw ESqlFormatError(std::to_string(args.size()) + " arguments for " + std::to_string(next) +
                              " placeholders in: " + format);
    return out;
}

void TSqlTrace::Append(const std::string& batch) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::lock_guard lock(FLock);
    std::ofstream out(FFile, std::ios::app | std::ios::binary);
    out << "-- " << stamp << "\n" << batch << "\n\n";
    out.flush();
    if (!out && !FReported) {
        // the trace is a diagnostic aid: its failure must not stop the database work
        FReported = true;
        std::cerr << "cannot write the SQL trace file " << FFile << "\n";
    }
}

std::string ResultSetToJson(const TDbResultSet& rs) {
    zumvo::TRapidStringBuffer buffer;
    zumvo::TRapidWriter w(buffer);
    std::vector<std::string> names;
    for (const auto& c : rs.Columns)
        names.push_back(ToUtf8(c));
    w.StartArray();
    for (const auto& row : rs.Rows) {
        w.StartObject();
        for (std::size_t c = 0; c < row.size() && c < names.size(); ++c) {
            w.Key(names[c].c_str(), static_cast<rapidjson::SizeType>(names[c].size()));
            const TDbValue& v = row[c];
            switch (v.Kind) {
            case TDbValue::TKind::Null:
                w.Null();
                break;
            case TDbValue::TKind::Integer:
                w.Int64(v.Int);
                break;
            case TDbValue::TKind::Float:
                if (std::isfinite(v.Float))
                    w.Double(v.Float);
                else
                    w.Null();
                break;
            case TDbValue::TKind::Text:
            case TDbValue::TKind::DateTime: {
                const std::string text = ToUtf8(v.Text);
                w.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
                break;
            }
            }
        }
        w.EndObject();
    }
    w.EndArray();
    return std::string(buffer.GetString(), buffer.GetSize());
}

TDBScript::TDBScript(std::shared_ptr<TDatabase> database, std::shared_ptr<TSqlTrace> trace,
                     std::shared_ptr<TFaultPoints> faults)
    : FDatabase(std::move(database)), FTrace(std::move(trace)), FFaults(std::move(faults)) {
    if (!FDatabase)
        throw std::invalid_argument("TDBScript needs a database");
}

TDbBatchResult TDBScript::Run(const std::string& sql) {
    if (FTrace)
        FTrace->Append(sql);
    const TFaultPoints::TTurn turn = FFaults ? FFaults->Before(sql) : TFaultPoints::TTurn{};
    try {
        // refused as SQLite refuses a batch whose write lock another program holds past the busy
        // time-out: before any of it runs
        if (turn.Refuse)
            throw EDatabaseError(DatabaseLockedMessage());
        TDbBatchResult r = FDatabase->RunBatch(sql);
        if (FFaults)
            FFaults->After(turn.Index);
        FLastError.clear();
        return r;
    } catch (const std::exception& e) {
        if (FFaults)
            FFaults->After(turn.Index);
        FLastError = e.what();
        throw;
    }
}

std::string TDBScript::Formatted(const std::string& format, const pallux::TSqlArgs& args) {
    try {
        return FormatSql(format, args);
    } catch (const std::exception& e) {
        FLastError = e.what();
        throw;
    }
}

void TDBScript::Execute(const std::string& sql) {
    Run(sql);
}

std::int32_t TDBScript::ExecuteRowCount(const std::string& sql) {
    const std::int64_t n = Run(sql).RowsAffected;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(n, 0, std::numeric_limits<std::int32_t>::max()));
}

bool TDBScript::ExecuteFmt(const std::string& format, const pallux::TSqlArgs& args) {
    try {
        Run(Formatted(format, args));
        return true;
    } catch (const std::exception&) {
        return false; // the message is kept in FLastError
    }
}

std::string TDBScript::Format(const std::string& format, const pallux::TSqlArgs& args) {
    return FormatSql(format, args);
}

void TDBScript::GetValue(const std::string& sql, const std::string& column, std::string& value) {
    const TDbBatchResult r = Run(sql);
    value.clear();
    for (const auto& rs : r.ResultSets) {
        if (rs.Rows.empty())
            continue;
        // names compare as the database compares them: exactly first, then ignoring case
        auto it = std::find(rs.Columns.begin(), rs.Columns.end(), column);
        if (it == rs.Columns.end())
            it = std::find_if(rs.Columns.begin(), rs.Columns.end(),
                              [&](const std::string& c) { return pallux::SameText(c, column); });
        if (it == rs.Columns.end()) {
            FLastError = "column " + column + " is not in the result of: " + sql;
            throw std::runtime_error(FLastError);
        }
        value = rs.Rows.front()[static_cast<std::size_t>(it - rs.Columns.begin())].AsText();
        return;
    }
}

void TDBScript::GetValueFmt(const std::string& format, const pallux::TSqlArgs& args,
                            const std::string& column, std::string& value) {
    GetValue(Formatted(format, args), column, value);
}

void TDBScript::Query(const std::string& sql, std::string& json) {
    const TDbBatchResult r = Run(sql);
    json = r.ResultSets.empty() ? "[]" : ResultSetToJson(r.ResultSets.front());
}

void TDBScript::QueryFmt(const std::string& format, const pallux::TSqlArgs& args, std::string& json) {
    Query(Formatted(format, args), json);
}

TDBScriptFactory::TDBScriptFactory(std::shared_ptr<TDatabase> database,
                                   const std::filesystem::path& traceFile,
                                   std::shared_ptr<TFaultPoints> faults)
    : FDatabase(std::move(database)), FFaults(std::move(faults)) {
    if (!traceFile.empty())
        FTrace = std::make_shared<TSqlTrace>(traceFile);
}

void TDBScriptFactory::CreateService(pallux::IntfPtr<pallux::IInterface>& instance) {
    pallux::IntfPtr<pallux::IDBScript> service =
        pallux::MakeIntf<TDBScript, pallux::IDBScript>(FDatabase, FTrace, FFaults);
    instance = pallux::IntfPtr<pallux::IInterface>(static_cast<pallux::IInterface*>(service.get()));
}

} // namespace refhost
