// Fault points of the database script service: chosen statements refused as a database locked
// by another program refuses them, the process killed at a chosen statement, and a trace of
// every statement's index and text. Failures are found by construction this way: a test counts
// the statements of a sale from the trace, then fails each index in turn.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>

namespace refhost {

// What to fail. Indices count the statements (batches) the script service receives in this
// process, from 1.
struct TFaultPointSettings {
    std::set<std::int64_t> RefuseAt; // refused with the busy time-out's error
    std::string RefuseContaining;    // every statement holding this text is refused; empty: none
    std::string RefuseMatching;      // every statement a search of this ECMAScript regex finds
    std::int64_t KillAt = 0;         // killed before this statement runs; 0: never
    std::int64_t KillAfter = 0;      // killed after this statement ran, before its caller sees it
    std::filesystem::path TraceFile; // one JSON line per statement; empty: no trace

    bool Active() const {
        return !RefuseAt.empty() || !RefuseContaining.empty() || !RefuseMatching.empty() || KillAt > 0 ||
               KillAfter > 0 || !TraceFile.empty();
    }
};

// A setting that cannot be read; the message names the key and the value.
class EFaultPointSettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the settings: each key from the environment variable when it is set, else from
// iniValue(key) (the host's [FaultPoints] section; empty: not set).
//   RefuseAt / ZUMVO_FAULT_REFUSE_AT              indices, separated by commas ("3,7")
//   RefuseContaining / ZUMVO_FAULT_REFUSE_CONTAINING  a text
//   RefuseMatching / ZUMVO_FAULT_REFUSE_MATCHING  an ECMAScript regular expression
//   KillAt / ZUMVO_FAULT_KILL_AT                  an index
//   KillAfter / ZUMVO_FAULT_KILL_AFTER            an index
//   Trace / ZUMVO_FAULT_TRACE                     a file; a relative one is taken from baseFolder
// Throws EFaultPointSettingError for an index that is not a whole number above 0 or a regular
// expression that does not compile.
TFaultPointSettings ReadFaultPointSettings(const std::function<std::string(const std::string&)>& iniValue,
                                           const std::filesystem::path& baseFolder);

// The message SQLite gives when a write lock is still held by another connection after the busy
// time-out ("database is locked").
std::string DatabaseLockedMessage();

// Shared by every script object of the process: it numbers the statements and decides each one's
// fate. Thread-safe.
class TFaultPoints {
public:
    // Throws EFaultPointSettingError for a regular expression that does not compile.
    explicit TFaultPoints(TFaultPointSettings settings);

    struct TTurn {
        std::int64_t Index = 0; // the statement's number in the process
        bool Refuse = false;    // refuse it instead of running it
    };

    // Called with each statement before it runs: numbers it, writes it to the trace, kills the
    // process when it is the one to kill at. Answers its number and whether to refuse it.
    TTurn Before(const std::string& statement);
    // Called after the statement of that number ran (also when the database refused it): kills
    // the process when it is the one to kill after.
    void After(std::int64_t index);

    // The index given to the latest statement (0 before the first).
    std::int64_t Count() const;

    // What killing does; by default the process ends at once (SIGKILL where there is one), as a
    // crash or a power cut ends it: no destructor, no buffer flushed. Tests replace it.
    void SetKiller(std::function<void()> killer) { FKiller = std::move(killer); }

private:
    void Trace(std::int64_t index, const std::string& statement, const char* fate);
    void Kill();

    TFaultPointSettings FSettings;
    std::optional<std::regex> FPattern;
    std::function<void()> FKiller;
    mutable std::mutex FLock;
    std::int64_t FCount = 0;
    bool FTraceReported = false;
};

} // namespace refhost
