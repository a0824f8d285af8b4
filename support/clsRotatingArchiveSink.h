// The module log's file: an spdlog sink that owns the file policy (name, header on reopening, size
// rotation with a bounded number of kept files, gzip archiving of old rotated files).
#pragma once

#include "ZumvoLog.h"

#include <spdlog/sinks/base_sink.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zumvo {

// File layout
//   <DestinationPath>/<BaseName>_<ComputerName><DefaultExtension>   the file being written
//   <same name>.1 ... <same name>.<RotateFileCount>                  rotated files, .1 the newest
//   <DestinationPath>/archive/<BaseName>_<ComputerName>_<yyyymmdd-hhmmss><DefaultExtension>.gz
//                                                                    archived rotated files, named
//                                                                    after their last write time
//
// Line layout: "yyyy-mm-dd hh:mm:ss.mmm TAG       text" followed by CR LF (or LF when
// EndOfLineCRLF is off). TAG is TRACE, DEBUG, INFO, WARNING, ERROR or EXCEPTION; the
// exception level is spdlog's critical level.
//
// Policy
// - Opening appends to an existing file; with AppendWithHeader a line
//   "==== Log opened <ISO 8601 local time> (pid <n>, <computer>) ====" is written first when
//   the file already holds lines, so a new file starts with its first line. Without it the
//   file is appended to as it is (never truncated).
// - Before a line that would take the file beyond RotateFileSizeKB * 1024 bytes the file is
//   rotated: rotated files at or beyond RotateFileCount are deleted, the others move up one
//   number, the current file becomes .1 and a new file is started. A line is never split; a
//   single line longer than the limit goes alone into a fresh file. RotateFileSizeKB 0 means
//   no size limit; RotateFileCount below 1 is taken as 1.
// - At open and at each rotation, rotated files last written more than ArchiveAfterDays days
//   ago are gzip-compressed into the archive folder and then deleted. A file whose archive
//   could not be written completely stays where it is. ArchiveAfterDays 0 or less turns
//   archiving off.
// - If a rotated file cannot be moved out of the way the current file is kept and written on,
//   past the size limit, rather than overwriting anything.
class TRotatingArchiveSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    // Opens the file (creating its folder); throws spdlog::spdlog_ex when it cannot be opened.
    explicit TRotatingArchiveSink(const TLogSettings& settings);
    ~TRotatingArchiveSink() override = default;

    const std::filesystem::path& FileName() const { return FFileName; }
    std::filesystem::path RotatedFileName(int index) const;
    std::filesystem::path ArchiveFolder() const;

    // Runs the archive check now (it also runs at open and at each rotation).
    void ArchiveOldFiles();

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;
    // The line layout is part of the file policy: a global spdlog pattern does not change it.
    void set_pattern_(const std::string&) override {}
    void set_formatter_(std::unique_ptr<spdlog::formatter>) override {}

private:
    struct TFileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };

    void Open(bool withHeader);
    void Rotate();
    void Write(const char* data, std::size_t size);
    void ArchiveOldFilesLocked();
    // Rotated files present on disk, as (number, path), lowest number first.
    std::vector<std::pair<int, std::filesystem::path>> RotatedFiles() const;
    std::filesystem::path ArchiveNameFor(const std::filesystem::path& rotated) const;

    spdlog::memory_buf_t FLine; // the line being written, reused
    TLogSettings FSettings;
    std::filesystem::path FFileName;
    std::string FEol;
    std::uint64_t FMaxSize = 0; // 0: no limit
    int FMaxFiles = 1;
    std::unique_ptr<std::FILE, TFileCloser> FFile;
    std::uint64_t FSize = 0;
};

// Compresses source into the gzip file target. The archive is written under a temporary name
// and renamed when complete; answers false (leaving no target behind) on any failure.
bool GzipFile(const std::filesystem::path& source, const std::filesystem::path& target);

// This machine's host name ("localhost" when it cannot be read).
std::string LocalComputerName();

} // namespace zumvo
