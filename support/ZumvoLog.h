// The module's one log: a file next to the module, written through spdlog with our own file
// sink for the rotation and archive policy.
#pragma once

#include "ZumvoLogFolder.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace zumvo {

// The log's settings, named as the load code sets them.
struct TLogSettings {
    std::filesystem::path DestinationPath; // folder of the log file
    std::string BaseName = "ZumvoPayment"; // file name before the computer name part
    std::string DefaultExtension = ".log";
    bool IncludeComputerNameInFileName = true;
    std::string ComputerName;              // empty: this machine's host name
    std::uint64_t RotateFileSizeKB = 2048; // a new file is started after this size
    int RotateFileCount = 10;              // rotated files kept
    int ArchiveAfterDays = 2;              // rotated files older than this are archived
    bool EndOfLineCRLF = true;
    bool AppendWithHeader = true; // an existing file is appended to after a header
    std::string Version;          // when set, the header names it
    // Where the log goes when DestinationPath cannot hold it (an installed module's folder
    // belongs to the system), tried in order; the first line there says why. Empty: no second
    // choice.
    std::vector<TLogFolder> FallbackFolders;
};

// The log file's full name for these settings:
//   <DestinationPath>/<BaseName>_<ComputerName><DefaultExtension>
// ("_<ComputerName>" only with IncludeComputerNameInFileName; characters a file name cannot hold
// are replaced by '_'). Rotated and archived files: see clsRotatingArchiveSink.h.
std::filesystem::path LogFileName(const TLogSettings& settings);

// Opens (or reopens) the module log with these settings. Every level is written. The file is made
// 0640 and never opened through a symbolic link (see ZumvoLogFolder.h). When DestinationPath
// cannot hold it, the first of FallbackFolders that can is taken: the log's first line says why,
// and stderr says where the log is (with the reasons of any fallback folder refused before it).
// When no folder can hold it, the log stays closed (CurrentLogFile() is empty) and the reasons go
// to stderr.
void ConfigureLog(const TLogSettings& settings);
// Flushes and closes the module log; later lines are dropped until ConfigureLog.
void ShutdownLog();
// Writes buffered lines to disk.
void FlushLog();
// The file the log currently writes to (empty when not configured).
std::filesystem::path CurrentLogFile();

// A text no line of the log may show (the provider's password, in each form an answer may carry
// it): from now until ShutdownLog, every occurrence in a line is written as LogMaskText. Taken
// only while the log is open. Texts of
// fewer than LogSecretMinimum characters are not taken: masking them would blank ordinary words.
// The secret is also masked as a JSON string carries it (a '"' or '\\' in it escaped, once and
// twice: a JSON text kept inside another one's string).
inline constexpr const char* LogMaskText = "********";
inline constexpr std::size_t LogSecretMinimum = 4;
void MaskInLog(std::string_view secret);
// The text as a log line would show it: every text given to MaskInLog replaced (for texts that
// are kept elsewhere, such as the database's log table).
std::string MaskedAsInLog(std::string text);
// A JSON text (a provider's answer as it is stored) with every text given to MaskInLog replaced
// inside its string values and member names only: numbers, structure and every other character
// stay as they are, so the text still parses to the same answer less the secret. A text that is
// not JSON is masked as MaskedAsInLog does. Unchanged when it holds no secret.
std::string MaskedJsonText(std::string json);
// The text as a JSON string carries it, without the quotes.
std::string JsonEscaped(std::string_view text);
// At most the given number of bytes of the text, cut between UTF-8 characters (for a column).
std::string Utf8Prefix(std::string text, std::size_t bytes);

namespace detail {
std::string ToLogText(std::string_view v);
std::string ToLogText(const std::string& v);
std::string ToLogText(const char* v);
std::string ToLogText(bool v);
std::string ToLogText(double v);
std::string ToLogText(std::int64_t v);
std::string ToLogText(std::uint64_t v);
template <class T>
requires std::is_integral_v<T> std::string ToLogText(T v) {
    if constexpr (std::is_signed_v<T>)
        return ToLogText(static_cast<std::int64_t>(v));
    else
        return ToLogText(static_cast<std::uint64_t>(v));
}
inline std::string ToLogText(float v) {
    return ToLogText(static_cast<double>(v));
}
void WriteInfo(std::string line);
void WriteException(std::string line);
} // namespace detail

// A log argument written with one range of its text replaced (a password inside a request),
// so that the masked text is never built apart from the log line.
struct TLogMasked {
    std::string_view Text;
    std::size_t From = 0;   // start of the range replaced
    std::size_t Length = 0; // 0: nothing replaced
    std::string_view Mask;
};

namespace detail {

// One argument of a log line as it is written into the line: texts are not copied, numbers are
// written into the argument itself. Lives only for the LogInfo call that makes it.
class TLogArg {
public:
    TLogArg(std::string_view v) : FParts{v} {}
    TLogArg(const std::string& v) : FParts{v} {}
    TLogArg(const char* v) : FParts{v ? std::string_view(v) : std::string_view()} {}
    TLogArg(bool v) : FParts{v ? "True" : "False"} {}
    TLogArg(double v);
    TLogArg(float v) : TLogArg(static_cast<double>(v)) {}
    TLogArg(std::int64_t v);
    TLogArg(std::uint64_t v);
    template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) TLogArg(T v)
        : TLogArg(static_cast<std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>>(v)) {}
    TLogArg(const TLogMasked& v);
    TLogArg(const TLogArg&) = delete;
    TLogArg& operator=(const TLogArg&) = delete;

    std::size_t Size() const;
    void AppendTo(std::string& line) const;

private:
    std::string_view FParts[3];
    char FNumber[32] = {};
    std::size_t FNumberSize = 0; // > 0: the argument is FNumber
};

// Fills the placeholders of text with args into the log line buffer and writes it.
void WriteInfoLine(std::string_view text, const TLogArg* args, std::size_t count);

} // namespace detail

// Fills each % of the text with the next argument, in order. Placeholders without an argument
// stay as they are; surplus arguments are ignored.
std::string FillPlaceholders(std::string_view text, const std::vector<std::string>& args);

// An information line: LogInfo("[TZumvoInfo.Create] Got StoreID : %", storeID). The line is
// put together once, without copies of its arguments, and handed to the file sink as it stands.
template <class... Args> void LogInfo(std::string_view text, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        detail::WriteInfoLine(text, nullptr, 0);
    } else {
        const detail::TLogArg list[] = {detail::TLogArg(args)...};
        detail::WriteInfoLine(text, list, sizeof...(Args));
    }
}

// An exception line: "[Class.Method] Error : message", at the exception level (spdlog's
// critical level, tagged EXCEPTION in the file). Never throws.
void LogError(std::string_view classMethod, std::string_view message);
inline void LogError(std::string_view classMethod, const std::exception& e) {
    LogError(classMethod, e.what());
}

// The failure of a required service or condition ("Could not create DBScript").
class EAssertionFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
inline void Require(bool condition, const char* message) {
    if (!condition)
        throw EAssertionFailed(message);
}

// Runs fn; any exception is logged as "[classMethod] Error : message" and swallowed.
// Answers true when fn completed. Every service operation's catch-all is this one call.
template <class Fn> bool Guarded(std::string_view classMethod, Fn&& fn) noexcept {
    try {
        std::forward<Fn>(fn)();
        return true;
    } catch (const std::exception& e) {
        LogError(classMethod, e);
    } catch (...) {
        LogError(classMethod, "unknown error");
    }
    return false;
}

} // namespace zumvo
