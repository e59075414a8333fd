// Folder locations. Every folder path given here ends with exactly one delimiter
// (kPathDelimiter: "/" on POSIX, "\" on Windows), so that a caller can append a name directly.
//
//   CSIDL 35 (machine-wide data)  the system's (/var/lib/ on POSIX, the shell's folder 35 on
//                                 Windows), or the folder set with SetCommonAppDataRoot (the
//                                 --data-root option); falls back to 26 when it cannot be
//                                 had, created or written
//   CSIDL 26 (per-user data)      POSIX: $XDG_DATA_HOME/ or $HOME/.local/share/ (an unset,
//                                 empty or relative $XDG_DATA_HOME is skipped; without $HOME
//                                 the account's home folder stands in). Windows: the shell's
//                                 folder 26. When that cannot be created either,
//                                 GetSpecialFolderPath gives empty text.
//   any other number              treated as a folder that cannot be had: falls back to 26
#pragma once

#include <string>

namespace dct {

constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_COMMON_APPDATA = 35;

// Folder of GetModuleFilePath, with a trailing delimiter.
std::string GetProgramFolder();
// The well-known folder, created if missing, with a trailing delimiter; empty text when neither it
// nor the per-user fallback can be had.
std::string GetSpecialFolderPath(int csidl);

// Replaces the machine-wide folder (35) for this process; empty text restores the system's.
void SetCommonAppDataRoot(const std::string& folder);

// Creates the folder and every missing parent. Returns false (errno kept) on failure.
bool ForceDirectories(const std::string& folder);

// Path text helpers behind the operations above. Every character of kPathDelimiters counts
// as a delimiter in what they read; what they add is kPathDelimiter.
// `path` with its trailing delimiters replaced by exactly one ("" stays "").
std::string IncludeTrailingPathDelimiter(const std::string& path);
// The folder part of a file path, up to and including its last delimiter ("" without one).
std::string ExtractFilePath(const std::string& path);

// ---------------------------------------------------------------------------------------
// Platform calls (uCommonUtils_posix.cpp, uCommonUtils_windows.cpp): the system's part of
// the folder logic above.

// The delimiter this system writes in paths: "/" on POSIX, "\" on Windows.
extern const char kPathDelimiter[];
// Every character the system reads as a delimiter: "/" on POSIX; "\" and "/" on Windows.
extern const char kPathDelimiters[];
// What makes a text more than a plain file name: the delimiters, and on Windows ":" too
// (a drive-relative path or a file's stream).
extern const char kNotInFileName[];

// Full path of the running executable, links resolved; empty text on failure.
std::string GetModuleFilePath();
// The machine-wide data folder when no root is set, with a trailing delimiter; empty text
// when the system does not tell.
std::string DefaultCommonAppDataFolder();
// The per-user data folder (26, see above), not yet created; empty text when there is none.
std::string UserDataFolder();
// Creates one folder level whose parent exists. True when it was made or is a folder
// already; false with errno set otherwise (ENOTDIR when something else holds the name).
bool CreateFolderLevel(const std::string& level);
// Whether this process may create files in the existing folder.
bool FolderWritable(const std::string& folder);

}  // namespace dct
