#include "ZumvoLogFolder.h"

#include "clsSysUtils.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace zumvo {

namespace {

#ifndef _WIN32

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0640;

std::string ModeText(mode_t mode) {
    return fmt::format("{:04o}", static_cast<unsigned>(mode & 07777));
}

std::string PrivateFolderFault(const fs::path& path, TLogFolderKind kind) {
    const std::string name = pallux::PathToUtf8(path);
    std::error_code ec;
    if (!path.parent_path().empty())
        fs::create_directories(path.parent_path(), ec);
    if (::mkdir(path.c_str(), kFolderMode) != 0 && errno != EEXIST)
        return "cannot make the folder " + name + ": " + std::strerror(errno);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "cannot examine the folder " + name + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode))
        return "refused the folder " + name + ": it is a symbolic link";
    if (!S_ISDIR(st.st_mode))
        return "refused the folder " + name + ": it is not a folder";
    if (st.st_uid != ::geteuid())
        return fmt::format("refused the folder {}: it belongs to user id {}, not to this user ({})", name,
                           static_cast<unsigned>(st.st_uid), static_cast<unsigned>(::geteuid()));
    if ((st.st_mode & 077) == 0)
        return {};
    if (kind == TLogFolderKind::Own && ::chmod(path.c_str(), kFolderMode) == 0)
        return {};
    return "refused the folder " + name + ": other users may use it (mode " + ModeText(st.st_mode) +
           "); make it 0700 or remove it";
}

#endif

} // namespace

std::string PrepareLogFolder(const TLogFolder& folder) {
    if (folder.Path.empty())
        return "no folder";
#ifndef _WIN32
    if (folder.Kind != TLogFolderKind::Shared)
        return PrivateFolderFault(folder.Path, folder.Kind);
#endif
    std::error_code ec;
    fs::create_directories(folder.Path, ec);
    if (ec)
        return "cannot make the folder " + pallux::PathToUtf8(folder.Path) + ": " + ec.message();
    return {};
}

std::FILE* OpenLogForAppend(const fs::path& file) {
#ifdef _WIN32
    // Shared for reading, writing and deleting: another process (the other host program of this
    // computer writes the same log) may rotate it, that is rename it, while it is open here, as on
    // POSIX systems; writes then go on into the renamed file.
    const HANDLE handle =
        CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return nullptr;
    }
    // Binary: the line ends are the sink's own (CR LF), not the C runtime's.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "ab");
    if (!f)
        _close(fd);
    return f;
#else
    // Non-blocking while it is opened: a FIFO put at the log's name must not hang the till.
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, kFileMode);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if ((st.st_mode & 007) != 0 && st.st_uid == ::geteuid())
        ::fchmod(fd, st.st_mode & kFileMode); // written world-readable by an earlier version
    std::FILE* f = ::fdopen(fd, "ab");
    if (!f)
        ::close(fd);
    return f;
#endif
}

int OpenLogSideFile(const fs::path& file) {
#ifdef _WIN32
    return _wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
#else
    return ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kFileMode);
#endif
}

} // namespace zumvo
