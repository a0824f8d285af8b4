#include "clsRotatingArchiveSink.h"

#include <spdlog/common.h>
#include <spdlog/pattern_formatter.h>

#include <fmt/format.h>
#include <zlib.h>

#include "ZumvoLogFolder.h"
#include "clsSysUtils.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <ctime>
#include <system_error>

namespace fs = std::filesystem;

namespace zumvo {

namespace {

constexpr std::size_t kTagWidth = 9; // "EXCEPTION"

std::string_view LevelTag(spdlog::level::level_enum level) {
    switch (level) {
    case spdlog::level::trace:
        return "TRACE";
    case spdlog::level::debug:
        return "DEBUG";
    case spdlog::level::info:
        return "INFO";
    case spdlog::level::warn:
        return "WARNING";
    case spdlog::level::err:
        return "ERROR";
    case spdlog::level::critical:
        return "EXCEPTION";
    default:
        return "";
    }
}

// %* in the pattern: the level tag, left aligned in a fixed width.
class TLevelTagFlag final : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest) override {
        std::string_view tag = LevelTag(msg.level);
        dest.append(tag.data(), tag.data() + tag.size());
        for (std::size_t i = tag.size(); i < kTagWidth; ++i)
            dest.push_back(' ');
    }
    std::unique_ptr<custom_flag_formatter> clone() const override {
        return std::make_unique<TLevelTagFlag>();
    }
};

std::unique_ptr<spdlog::formatter> MakeLineFormatter(const std::string& eol) {
    spdlog::pattern_formatter::custom_flags flags;
    flags['*'] = std::make_unique<TLevelTagFlag>();
    return std::make_unique<spdlog::pattern_formatter>(
        "%Y-%m-%d %H:%M:%S.%e %* %v", spdlog::pattern_time_type::local, eol, std::move(flags));
}

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string OpenedStamp() {
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm = LocalTime(std::chrono::system_clock::to_time_t(now));
    char date[32];
    char zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
#ifdef _WIN32
    // The C runtime's %z writes the zone's name (or nothing) on Windows, not its offset.
    _tzset();
    long east = -(_timezone + (tm.tm_isdst > 0 ? _dstbias : 0));
    const char sign = east < 0 ? '-' : '+';
    east = east < 0 ? -east : east;
    std::snprintf(zone, sizeof zone, "%c%02ld%02ld", sign, east / 3600 % 100, east / 60 % 60);
#else
    std::strftime(zone, sizeof zone, "%z", &tm);
#endif
    return fmt::format("{}.{:03}{}", date, ms, zone);
}

// The text with every bare LF turned into the file's line end, so that multi-line texts keep
// the file's line ends consistent.
void NormaliseLineEnds(spdlog::memory_buf_t& buf, std::string_view eol) {
    if (eol != "\r\n")
        return;
    std::size_t bare = 0;
    for (std::size_t i = 0; i < buf.size(); ++i)
        if (buf[i] == '\n' && (i == 0 || buf[i - 1] != '\r'))
            ++bare;
    if (bare == 0)
        return;
    spdlog::memory_buf_t out;
    out.reserve(buf.size() + bare);
    for (std::size_t i = 0; i < buf.size(); ++i) {
        if (buf[i] == '\n' && (i == 0 || buf[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(buf[i]);
    }
    buf.clear();
    buf.append(out.data(), out.data() + out.size());
}

std::FILE* OpenForReading(const fs::path& file) {
#ifdef _WIN32
    return _wfopen(file.c_str(), L"rbN"); // N: not inherited
#else
    return std::fopen(file.c_str(), "rbe");
#endif
}

// An archive is written with the log's own mode, never through a link at its name.
gzFile OpenGzForWriting(const fs::path& file) {
    const int fd = OpenLogSideFile(file);
    if (fd < 0)
        return nullptr;
    gzFile gz = gzdopen(fd, "wb");
    if (!gz)
#ifdef _WIN32
        _close(fd);
#else
        close(fd);
#endif
    return gz;
}

int ProcessId() {
#ifdef _WIN32
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

struct TGzCloser {
    void operator()(gzFile f) const noexcept {
        if (f)
            gzclose(f);
    }
};

} // namespace

std::string LocalComputerName() {
#ifdef _WIN32
    // The NetBIOS name, as Windows shows it (upper case); UTF-8 for the file name.
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length) || length == 0)
        return "localhost";
    return pallux::PathToUtf8(fs::path(std::wstring(name, length)));
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
#endif
}

bool GzipFile(const fs::path& source, const fs::path& target) {
    fs::path part = target;
    part += ".part";
    std::error_code ec;
    bool ok = false;
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenForReading(source), &std::fclose);
        if (!in)
            return false;
        std::unique_ptr<gzFile_s, TGzCloser> out(OpenGzForWriting(part));
        if (out) {
            std::vector<char> chunk(64 * 1024);
            ok = true;
            while (ok) {
                std::size_t n = std::fread(chunk.data(), 1, chunk.size(), in.get());
                if (n > 0 &&
                    gzwrite(out.get(), chunk.data(), static_cast<unsigned>(n)) != static_cast<int>(n))
                    ok = false;
                if (n < chunk.size()) {
                    if (std::ferror(in.get()))
                        ok = false;
                    break;
                }
            }
            // gzclose writes the trailer; only a clean close makes a complete archive.
            ok = gzclose(out.release()) == Z_OK && ok;
        }
    }
    if (ok) {
        fs::rename(part, target, ec);
        ok = !ec;
    }
    if (!ok)
        fs::remove(part, ec);
    return ok;
}

TRotatingArchiveSink::TRotatingArchiveSink(const TLogSettings& settings)
    : FSettings(settings), FFileName(LogFileName(settings)), FEol(settings.EndOfLineCRLF ? "\r\n" : "\n"),
      FMaxSize(settings.RotateFileSizeKB * 1024), FMaxFiles(std::max(1, settings.RotateFileCount)) {
    formatter_ = MakeLineFormatter(FEol);
    ArchiveOldFilesLocked();
    Open(FSettings.AppendWithHeader);
}

fs::path TRotatingArchiveSink::RotatedFileName(int index) const {
    fs::path p = FFileName;
    p += "." + std::to_string(index);
    return p;
}

fs::path TRotatingArchiveSink::ArchiveFolder() const {
    return FFileName.parent_path() / "archive";
}

void TRotatingArchiveSink::ArchiveOldFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    ArchiveOldFilesLocked();
}

void TRotatingArchiveSink::Open(bool withHeader) {
    std::error_code ec;
    if (!FFileName.parent_path().empty())
        fs::create_directories(FFileName.parent_path(), ec);
    std::FILE* f = OpenLogForAppend(FFileName);
    if (!f)
        throw spdlog::spdlog_ex("Cannot open log file " + pallux::PathToUtf8(FFileName), errno);
    FFile.reset(f);
    struct stat st {};
    FSize = fstat(fileno(f), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    // A new file starts with the first line itself; an existing one gets a header first.
    if (withHeader && FSize > 0) {
        std::string computer = FSettings.ComputerName.empty() ? LocalComputerName() : FSettings.ComputerName;
        const std::string version = FSettings.Version.empty() ? "" : ", version " + FSettings.Version;
        std::string header = fmt::format("==== Log opened {} (pid {}, {}{}) ===={}", OpenedStamp(),
                                         ProcessId(), computer, version, FEol);
        Write(header.data(), header.size());
    }
}

void TRotatingArchiveSink::Write(const char* data, std::size_t size) {
    std::size_t written = std::fwrite(data, 1, size, FFile.get());
    FSize += written;
    if (written != size)
        throw spdlog::spdlog_ex("Cannot write log file " + pallux::PathToUtf8(FFileName), errno);
}

void TRotatingArchiveSink::sink_it_(const spdlog::details::log_msg& msg) {
    // The sink's own buffer, kept from line to line (base_sink holds the lock).
    spdlog::memory_buf_t& line = FLine;
    line.clear();
    formatter_->format(msg, line);
    NormaliseLineEnds(line, FEol);
    if (!FFile)
        Open(FSettings.AppendWithHeader); // an earlier rotation could not reopen the file
    if (FMaxSize > 0 && FSize > 0 && FSize + line.size() > FMaxSize)
        Rotate();
    Write(line.data(), line.size());
}

void TRotatingArchiveSink::flush_() {
    if (!FFile)
        return;
    std::fflush(FFile.get());
#ifdef _WIN32
    _commit(_fileno(FFile.get()));
#else
    fdatasync(fileno(FFile.get()));
#endif
}

std::vector<std::pair<int, fs::path>> TRotatingArchiveSink::RotatedFiles() const {
    std::vector<std::pair<int, fs::path>> found;
    fs::path folder = FFileName.parent_path().empty() ? fs::path(".") : FFileName.parent_path();
    std::string prefix = pallux::PathToUtf8(FFileName.filename()) + ".";
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = pallux::PathToUtf8(it->path().filename());
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string_view digits(name.data() + prefix.size(), name.size() - prefix.size());
        int index = 0;
        auto [end_ptr, err] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (err != std::errc() || end_ptr != digits.data() + digits.size() || index < 1 || digits[0] == '0')
            continue;
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc))
            continue;
        found.emplace_back(index, it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

fs::path TRotatingArchiveSink::ArchiveNameFor(const fs::path& rotated) const {
    std::error_code ec;
    auto written = fs::last_write_time(rotated, ec);
    std::time_t t = ec ? std::time(nullptr)
                       : std::chrono::system_clock::to_time_t(
                             std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                                 std::chrono::file_clock::to_sys(written)));
    std::tm tm = LocalTime(t);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string stem = pallux::PathToUtf8(FFileName.stem()) + "_" + stamp;
    std::string ext = pallux::PathToUtf8(FFileName.extension()) + ".gz";
    fs::path folder = ArchiveFolder();
    fs::path candidate = folder / pallux::Utf8ToPath(stem + ext);
    for (int n = 2; fs::exists(candidate, ec) || fs::exists(fs::path(candidate) += ".part", ec); ++n)
        candidate = folder / pallux::Utf8ToPath(stem + "-" + std::to_string(n) + ext);
    return candidate;
}

void TRotatingArchiveSink::ArchiveOldFilesLocked() {
    if (FSettings.ArchiveAfterDays <= 0)
        return;
    auto limit = fs::file_time_type::clock::now() - std::chrono::hours(24) * FSettings.ArchiveAfterDays;
    for (const auto& [index, path] : RotatedFiles()) {
        std::error_code ec;
        auto written = fs::last_write_time(path, ec);
        if (ec || written >= limit)
            continue;
        fs::create_directories(ArchiveFolder(), ec);
        if (ec)
            return; // no archive folder: every rotated file stays
        fs::path target = ArchiveNameFor(path);
        if (!GzipFile(path, target))
            continue;
        fs::last_write_time(target, written, ec);
        fs::remove(path, ec);
    }
}

void TRotatingArchiveSink::Rotate() {
    std::fflush(FFile.get());
    FFile.reset();
    ArchiveOldFilesLocked();

    std::error_code ec;
    for (const auto& [index, path] : RotatedFiles())
        if (index >= FMaxFiles)
            fs::remove(path, ec);
    for (int i = FMaxFiles - 1; i >= 1; --i) {
        fs::path from = RotatedFileName(i);
        if (fs::exists(from, ec))
            fs::rename(from, RotatedFileName(i + 1), ec);
    }
    // Only move the current file when .1 is free: a failed shift must not overwrite a rotated file.
    if (!fs::exists(RotatedFileName(1), ec))
        fs::rename(FFileName, RotatedFileName(1), ec);
    Open(false);
}

} // namespace zumvo
