#include "TFaultPoints.h"

#include "clsRapidJson.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iostream>
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace refhost {

namespace {

std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// text: one number; whole: the setting it comes from, for the message.
std::int64_t ReadIndex(const std::string& key, const std::string& text, const std::string& whole) {
    const std::string t = Trimmed(text);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || value < 1)
        throw EFaultPointSettingError(
            "fault points: " + key +
            (key == "RefuseAt" ? " must be statement numbers from 1 up, separated by commas, not \""
                               : " must be a statement number from 1 up, not \"") +
            whole + "\"");
    return value;
}

struct TKey {
    const char* Ini;
    const char* Env;
};
constexpr TKey RefuseAtKey{"RefuseAt", "ZUMVO_FAULT_REFUSE_AT"};
constexpr TKey RefuseContainingKey{"RefuseContaining", "ZUMVO_FAULT_REFUSE_CONTAINING"};
constexpr TKey RefuseMatchingKey{"RefuseMatching", "ZUMVO_FAULT_REFUSE_MATCHING"};
constexpr TKey KillAtKey{"KillAt", "ZUMVO_FAULT_KILL_AT"};
constexpr TKey KillAfterKey{"KillAfter", "ZUMVO_FAULT_KILL_AFTER"};
constexpr TKey TraceKey{"Trace", "ZUMVO_FAULT_TRACE"};

std::regex CompilePattern(const std::string& pattern) {
    try {
        return std::regex(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
        throw EFaultPointSettingError("fault points: RefuseMatching \"" + pattern +
                                      "\" is not a regular expression: " + e.what());
    }
}

void KillNow() {
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 137);
#else
    ::kill(::getpid(), SIGKILL);
#endif
    std::_Exit(137); // not reached where the signal works
}

} // namespace

TFaultPointSettings ReadFaultPointSettings(const std::function<std::string(const std::string&)>& iniValue,
                                           const std::filesystem::path& baseFolder) {
    const auto value = [&](const TKey& key) -> std::string {
        if (const char* env = std::getenv(key.Env))
            return env;
        return iniValue ? iniValue(key.Ini) : std::string();
    };
    TFaultPointSettings s;
    const std::string refuseAt = value(RefuseAtKey);
    std::size_t from = 0;
    while (!Trimmed(refuseAt).empty() && from <= refuseAt.size()) {
        const std::size_t comma = std::min(refuseAt.find(',', from), refuseAt.size());
        s.RefuseAt.insert(ReadIndex(RefuseAtKey.Ini, refuseAt.substr(from, comma - from), refuseAt));
        from = comma + 1;
    }
    s.RefuseContaining = value(RefuseContainingKey);
    s.RefuseMatching = value(RefuseMatchingKey);
    if (!s.RefuseMatching.empty())
        CompilePattern(s.RefuseMatching); // refused now, not at the first statement
    if (const std::string k = value(KillAtKey); !Trimmed(k).empty())
        s.KillAt = ReadIndex(KillAtKey.Ini, k, k);
    if (const std::string k = value(KillAfterKey); !Trimmed(k).empty())
        s.KillAfter = ReadIndex(KillAfterKey.Ini, k, k);
    if (const std::string t = Trimmed(value(TraceKey)); !t.empty()) {
        s.TraceFile = t;
        if (s.TraceFile.is_relative() && !baseFolder.empty())
            s.TraceFile = baseFolder / s.TraceFile;
    }
    return s;
}

std::string DatabaseLockedMessage() {
    return sqlite3_errstr(SQLITE_BUSY);
}

TFaultPoints::TFaultPoints(TFaultPointSettings settings) : FSettings(std::move(settings)), FKiller(KillNow) {
    if (!FSettings.RefuseMatching.empty())
        FPattern = CompilePattern(FSettings.RefuseMatching);
}

TFaultPoints::TTurn TFaultPoints::Before(const std::string& statement) {
    TTurn turn;
    {
        std::lock_guard lock(FLock);
        turn.Index = ++FCount;
        turn.Refuse = FSettings.RefuseAt.contains(turn.Index) ||
                      (!FSettings.RefuseContaining.empty() &&
                       statement.find(FSettings.RefuseContaining) != std::string::npos) ||
                      (FPattern && std::regex_search(statement, *FPattern));
        const bool kill = FSettings.KillAt == turn.Index;
        Trace(turn.Index, statement, kill ? "killed" : turn.Refuse ? "refused" : "run");
        if (!kill)
            return turn;
    }
    Kill();
    return turn;
}

void TFaultPoints::After(std::int64_t index) {
    if (FSettings.KillAfter == index)
        Kill();
}

std::int64_t TFaultPoints::Count() const {
    std::lock_guard lock(FLock);
    return FCount;
}

void TFaultPoints::Trace(std::int64_t index, const std::string& statement, const char* fate) {
    if (FSettings.TraceFile.empty())
        return;
    zumvo::TRapidStringBuffer buffer;
    zumvo::TRapidWriter w(buffer);
    w.StartObject();
    w.Key("index");
    w.Int64(index);
    w.Key("fate");
    w.String(fate);
    w.Key("sql");
    w.String(statement.c_str(), static_cast<rapidjson::SizeType>(statement.size()));
    w.EndObject();
    // written and closed at once: a kill right after must not lose the line
    std::ofstream out(FSettings.TraceFile, std::ios::app | std::ios::binary);
    out.write(buffer.GetString(), static_cast<std::streamsize>(buffer.GetSize()));
    out << '\n';
    out.close();
    if (!out && !FTraceReported) {
        // a diagnostic aid: its failure must not stop the database work
        FTraceReported = true;
        std::cerr << "cannot write the fault-point trace file " << FSettings.TraceFile << "\n";
    }
}

void TFaultPoints::Kill() {
    FKiller();
}

} // namespace refhost
