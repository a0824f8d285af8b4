// Where the module's log may be written, and how its file is opened: the folders a log may take
// (the module's own, the user's own, a shared one the package made, a temporary one) and the
// checks that keep another local user from reading the log or steering what it writes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace zumvo {

// How a folder is trusted to hold the log.
enum class TLogFolderKind {
    // A folder that belongs to the system or the package (the module's folder, a log folder the
    // package made): used as it is; its permissions are the administrator's.
    Shared,
    // The user's own folder (in the user's home): made 0700; one of the user's that is open to
    // others (an earlier version made it 0755) is narrowed to 0700; one of another user is refused.
    Own,
    // A folder in the system's temporary folder, where any user may have made it first: made 0700;
    // refused when it is not a folder of the user's own (a link, another user's) or is open to others.
    Temporary,
};

struct TLogFolder {
    std::filesystem::path Path;
    TLogFolderKind Kind = TLogFolderKind::Shared;
};

// Makes the folder ready for the log as its kind asks (creating it and its parents when missing).
// Answers an empty text when the log may be written there, else why not.
std::string PrepareLogFolder(const TLogFolder& folder);

// Opens the log file for appending, created with mode 0640 when missing (the user and the group
// may read it, nobody else), without following a symbolic link at its name and only when it is a
// regular file; a file of the user's own that others may read is narrowed to 0640. Not inherited
// by programs the host starts. Null (errno set) when it cannot be opened.
std::FILE* OpenLogForAppend(const std::filesystem::path& file);

// Opens a file the log writes beside itself (a compressed archive, its partial file) for writing,
// truncated, with the log's mode and without following a link. -1 (errno set) on failure.
int OpenLogSideFile(const std::filesystem::path& file);

} // namespace zumvo
