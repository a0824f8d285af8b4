#include "ZumvoLog.h"

#include "clsRapidJson.h"
#include "clsRotatingArchiveSink.h"
#include "clsSysUtils.h"

#include <spdlog/logger.h>
#include <spdlog/spdlog.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;

namespace zumvo {

namespace {

// The name under which the module's logger is known to spdlog's registry.
constexpr const char* kLoggerName = "ZumvoPayment";

struct TModuleLog {
    std::shared_ptr<spdlog::logger> Logger;
    std::shared_ptr<TRotatingArchiveSink> Sink;
};

// Only trivially destructible objects live at namespace scope: the log may be written from
// static constructors and destructors of other units, in any order. The state itself exists
// between ConfigureLog and ShutdownLog.
#ifdef _WIN32
// winpthreads' mutex has no constant initializer: made at first use instead (and never destroyed),
// so that a line logged from another unit's static constructor finds it ready.
std::mutex& LogMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
#else
constinit std::mutex gLogMutex;
std::mutex& LogMutex() {
    return gLogMutex;
}
#endif
constinit TModuleLog* gLog = nullptr;

// The texts MaskInLog took, guarded by LogMutex(): the latest few (a password and its escaped
// forms, and the ones before an edit of the settings), in the order taken, and longest first for
// masking (so that no part of a longer form is left behind).
struct TLogSecrets {
    static constexpr std::size_t Most = 48;
    std::vector<std::string> Taken;
    std::vector<std::string> Texts;
};
constinit TLogSecrets* gSecrets = nullptr;

bool HoldsSecretLocked(std::string_view text) {
    if (!gSecrets)
        return false;
    for (const auto& secret : gSecrets->Texts)
        if (text.find(secret) != std::string_view::npos)
            return true;
    return false;
}

void MaskSecretsLocked(std::string& text) {
    for (const auto& secret : gSecrets->Texts)
        for (std::size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + std::char_traits<char>::length(LogMaskText)))
            text.replace(at, secret.size(), LogMaskText);
}

std::shared_ptr<spdlog::logger> CurrentLogger() noexcept {
    std::lock_guard<std::mutex> lock(LogMutex());
    return gLog ? gLog->Logger : nullptr;
}

void Write(spdlog::level::level_enum level, std::string_view line) noexcept {
    try {
        std::shared_ptr<spdlog::logger> logger;
        std::string masked;
        {
            std::lock_guard<std::mutex> lock(LogMutex());
            if (!gLog)
                return;
            logger = gLog->Logger;
            if (HoldsSecretLocked(line)) {
                masked = line;
                MaskSecretsLocked(masked);
                line = masked;
            }
        }
        logger->log(level, line);
    } catch (...) {
        // A log line is never worth a failure of the caller.
    }
}

// Created by the first ConfigureLog, after spdlog's registry: it is therefore destroyed before
// the registry at process exit, and with this library's other statics when the library is
// unloaded, so the registry never keeps a logger whose code is gone.
struct TShutdownAtUnload {
    ~TShutdownAtUnload() { ShutdownLog(); }
};

std::string SafeFileNamePart(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    return name;
}

} // namespace

fs::path LogFileName(const TLogSettings& settings) {
    std::string name = settings.BaseName;
    if (settings.IncludeComputerNameInFileName)
        name += "_" +
                SafeFileNamePart(settings.ComputerName.empty() ? LocalComputerName() : settings.ComputerName);
    name += settings.DefaultExtension;
    return settings.DestinationPath / pallux::Utf8ToPath(name);
}

namespace {

std::unique_ptr<TModuleLog> OpenLog(const TLogSettings& settings) {
    auto log = std::make_unique<TModuleLog>();
    log->Sink = std::make_shared<TRotatingArchiveSink>(settings);
    log->Logger = std::make_shared<spdlog::logger>(kLoggerName, log->Sink);
    log->Logger->set_level(spdlog::level::trace);
    // Exceptions reach the disk at once; everything else on FlushLog.
    log->Logger->flush_on(spdlog::level::critical);
    return log;
}

} // namespace

void ConfigureLog(const TLogSettings& settings) {
    ShutdownLog();
    std::string refused;           // why the destination folder could not take the log
    std::vector<std::string> also; // why fallback folders before the one taken could not
    try {
        std::unique_ptr<TModuleLog> log;
        try {
            log = OpenLog(settings);
        } catch (const std::exception& e) {
            refused = e.what();
        }
        for (std::size_t i = 0; !log && i < settings.FallbackFolders.size(); ++i) {
            const TLogFolder& folder = settings.FallbackFolders[i];
            std::string fault = PrepareLogFolder(folder);
            if (fault.empty()) {
                TLogSettings fallback = settings;
                fallback.DestinationPath = folder.Path;
                try {
                    log = OpenLog(fallback);
                } catch (const std::exception& e) {
                    fault = e.what();
                }
            }
            if (!log)
                also.push_back(std::move(fault));
        }
        if (!log) {
            std::string reasons = refused;
            for (const auto& reason : also)
                reasons += "; " + reason;
            throw std::runtime_error(reasons);
        }
        spdlog::drop(kLoggerName);
        spdlog::register_logger(log->Logger);
        static TShutdownAtUnload shutdownAtUnload;

        std::lock_guard<std::mutex> lock(LogMutex());
        delete gLog;
        gLog = log.release();
    } catch (const std::exception& e) {
        // There is no log to report to: the host's error stream is the only witness.
        std::fprintf(stderr, "Zumvo Payment: the log could not be opened: %s\n", e.what());
        return;
    }
    if (refused.empty())
        return;
    // An installed module's folder belongs to the system: the log in the user's place is the
    // expected case, said without alarm. A fallback folder refused on the way is not expected.
    std::string skipped;
    for (const auto& reason : also)
        skipped += "; " + reason;
    std::fprintf(stderr, "Zumvo Payment: the log is %s%s%s\n", pallux::PathToUtf8(CurrentLogFile()).c_str(),
                 skipped.empty() ? "" : " (", skipped.empty() ? "" : (skipped.substr(2) + ")").c_str());
    LogInfo("[ZumvoLog] The log cannot be written in % (%): it is written here instead",
            pallux::PathToUtf8(settings.DestinationPath), refused);
    for (const auto& reason : also)
        LogInfo("[ZumvoLog] Not written in a fallback folder: %", reason);
}

void ShutdownLog() {
    TModuleLog* log = nullptr;
    {
        std::lock_guard<std::mutex> lock(LogMutex());
        std::swap(log, gLog);
        delete gSecrets;
        gSecrets = nullptr;
    }
    if (!log)
        return;
    try {
        log->Logger->flush();
        if (spdlog::get(kLoggerName) == log->Logger)
            spdlog::drop(kLoggerName);
    } catch (...) {
    }
    delete log; // the file closes with the last reference to the sink
}

void FlushLog() {
    try {
        if (auto logger = CurrentLogger())
            logger->flush();
    } catch (...) {
    }
}

std::string JsonEscaped(std::string_view text) {
    rapidjson::GenericStringBuffer<rapidjson::UTF8<>, TJsonStackAllocator> buffer;
    rapidjson::Writer<decltype(buffer), rapidjson::UTF8<>, rapidjson::UTF8<>, TJsonStackAllocator> writer(
        buffer);
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    const std::string_view quoted(buffer.GetString(), buffer.GetSize());
    return std::string(quoted.substr(1, quoted.size() - 2));
}

void MaskInLog(std::string_view secret) {
    if (secret.size() < LogSecretMinimum)
        return;
    const std::string once = JsonEscaped(secret);
    const std::string twice = JsonEscaped(once);
    std::lock_guard<std::mutex> lock(LogMutex());
    // Kept with the open log (ShutdownLog forgets them): without a log no line shows them.
    if (!gLog)
        return;
    if (!gSecrets)
        gSecrets = new TLogSecrets;
    auto& taken = gSecrets->Taken;
    for (std::string_view form :
         {std::string_view(secret), std::string_view(once), std::string_view(twice)}) {
        if (std::find(taken.begin(), taken.end(), form) != taken.end())
            continue;
        if (taken.size() == TLogSecrets::Most)
            taken.erase(taken.begin()); // the oldest makes room: the password in use is always masked
        taken.emplace_back(form);
    }
    auto& texts = gSecrets->Texts;
    texts = taken;
    std::stable_sort(texts.begin(), texts.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string MaskedAsInLog(std::string text) {
    std::lock_guard<std::mutex> lock(LogMutex());
    if (HoldsSecretLocked(text))
        MaskSecretsLocked(text);
    return text;
}

namespace {

// Copies a JSON text through, masking the secrets inside its strings; numbers are passed on as
// they were written.
class TMaskingCopy : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TMaskingCopy> {
public:
    using TBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, TJsonStackAllocator>;
    using TWriter = rapidjson::Writer<TBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, TJsonStackAllocator>;
    explicit TMaskingCopy(TWriter& writer) : FWriter(writer) {}

    bool Null() { return FWriter.Null(); }
    bool Bool(bool b) { return FWriter.Bool(b); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        return FWriter.RawValue(text, length, rapidjson::kNumberType);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        const std::string masked = Masked(text, length);
        return FWriter.String(masked.data(), static_cast<rapidjson::SizeType>(masked.size()));
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string masked = Masked(text, length);
        return FWriter.Key(masked.data(), static_cast<rapidjson::SizeType>(masked.size()));
    }
    bool StartObject() { return FWriter.StartObject(); }
    bool EndObject(rapidjson::SizeType count) { return FWriter.EndObject(count); }
    bool StartArray() { return FWriter.StartArray(); }
    bool EndArray(rapidjson::SizeType count) { return FWriter.EndArray(count); }

private:
    static std::string Masked(const char* text, rapidjson::SizeType length) {
        std::string value(text, length);
        if (HoldsSecretLocked(value))
            MaskSecretsLocked(value);
        return value;
    }
    TWriter& FWriter;
};

} // namespace

std::string MaskedJsonText(std::string json) {
    std::lock_guard<std::mutex> lock(LogMutex());
    if (!HoldsSecretLocked(json))
        return json;
    TMaskingCopy::TBuffer buffer;
    TMaskingCopy::TWriter writer(buffer);
    TMaskingCopy copy(writer);
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, TJsonStackAllocator> reader;
    rapidjson::StringStream in(json.c_str());
    if (reader.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseStopWhenDoneFlag>(in, copy)
            .IsError() ||
        in.Tell() != json.size()) {
        MaskSecretsLocked(json); // not one JSON text: masked as a log line is
        return json;
    }
    // A number that happens to read as the secret stays: the answer's amounts and ids are kept.
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string Utf8Prefix(std::string text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end; // a continuation byte: the character began before
    text.resize(end);
    return text;
}

fs::path CurrentLogFile() {
    std::lock_guard<std::mutex> lock(LogMutex());
    return gLog ? gLog->Sink->FileName() : fs::path();
}

namespace detail {

std::string ToLogText(std::string_view v) {
    return std::string(v);
}
std::string ToLogText(const std::string& v) {
    return v;
}
std::string ToLogText(const char* v) {
    return v ? std::string(v) : std::string();
}
std::string ToLogText(bool v) {
    return v ? "True" : "False";
}
std::string ToLogText(double v) {
    return fmt::format("{}", v);
}
std::string ToLogText(std::int64_t v) {
    return fmt::format("{}", v);
}
std::string ToLogText(std::uint64_t v) {
    return fmt::format("{}", v);
}

void WriteInfo(std::string line) {
    Write(spdlog::level::info, line);
}

TLogArg::TLogArg(double v) {
    FNumberSize = static_cast<std::size_t>(fmt::format_to_n(FNumber, sizeof FNumber, "{}", v).out - FNumber);
}
TLogArg::TLogArg(std::int64_t v) {
    FNumberSize = static_cast<std::size_t>(fmt::format_to_n(FNumber, sizeof FNumber, "{}", v).out - FNumber);
}
TLogArg::TLogArg(std::uint64_t v) {
    FNumberSize = static_cast<std::size_t>(fmt::format_to_n(FNumber, sizeof FNumber, "{}", v).out - FNumber);
}
TLogArg::TLogArg(const TLogMasked& v) {
    if (v.Length == 0 || v.From >= v.Text.size()) {
        FParts[0] = v.Text;
        return;
    }
    FParts[0] = v.Text.substr(0, v.From);
    FParts[1] = v.Mask;
    FParts[2] = v.Text.substr(std::min(v.Text.size(), v.From + v.Length));
}

std::size_t TLogArg::Size() const {
    return FNumberSize > 0 ? FNumberSize : FParts[0].size() + FParts[1].size() + FParts[2].size();
}

void TLogArg::AppendTo(std::string& line) const {
    if (FNumberSize > 0) {
        line.append(FNumber, FNumberSize);
        return;
    }
    for (std::string_view part : FParts)
        line.append(part);
}

void WriteInfoLine(std::string_view text, const TLogArg* args, std::size_t count) {
    try {
        // Sized once: the line is put together in a single allocation. (No thread_local buffer:
        // it would keep the module from being unloaded.)
        std::size_t size = text.size();
        for (std::size_t i = 0; i < count; ++i)
            size += args[i].Size();
        std::string line;
        line.reserve(size);
        std::size_t next = 0;
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t percent = next < count ? text.find('%', start) : std::string_view::npos;
            if (percent == std::string_view::npos) {
                line.append(text.substr(start));
                break;
            }
            // Arguments are inserted as they are: a % inside an argument is not a placeholder.
            line.append(text.substr(start, percent - start));
            args[next++].AppendTo(line);
            start = percent + 1;
        }
        Write(spdlog::level::info, line);
    } catch (...) {
        // A log line is never worth a failure of the caller.
    }
}
void WriteException(std::string line) {
    Write(spdlog::level::critical, line);
}

} // namespace detail

std::string FillPlaceholders(std::string_view text, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(text.size() + 16 * args.size());
    std::size_t next = 0;
    for (char c : text) {
        // Arguments are inserted as they are: a % inside an argument is not a placeholder.
        if (c == '%' && next < args.size())
            out += args[next++];
        else
            out += c;
    }
    return out;
}

void LogError(std::string_view classMethod, std::string_view message) {
    try {
        std::string line;
        line.reserve(classMethod.size() + message.size() + 12);
        line.append("[").append(classMethod).append("] Error : ").append(message);
        detail::WriteException(std::move(line));
    } catch (...) {
    }
}

} // namespace zumvo
