// Folder locations. Every folder path given here ends with exactly one "/", so that a caller
// can append a name directly.
//
//   CSIDL 35 (machine-wide data)  /var/lib/, or the folder set with SetCommonAppDataRoot
//                                 (the --data-root option); falls back to 26 when it cannot
//                                 be created or written
//   CSIDL 26 (per-user data)      $XDG_DATA_HOME/ or $HOME/.local/share/ (an unset, empty or
//                                 relative $XDG_DATA_HOME is skipped; without $HOME the
//                                 account's home folder stands in). When that cannot be
//                                 created either, GetSpecialFolderPath gives empty text.
//   any other number              treated as a folder that cannot be had: falls back to 26
#pragma once

#include <string>

namespace dct {

constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_COMMON_APPDATA = 35;

// Full path of the running executable (/proc/self/exe resolved); empty text on failure.
std::string GetModuleFilePath();
// Folder of GetModuleFilePath, with a trailing "/".
std::string GetProgramFolder();
// The well-known folder, created if missing, with a trailing "/"; empty text when neither it
// nor the per-user fallback can be had.
std::string GetSpecialFolderPath(int csidl);

// Replaces the machine-wide folder (35) for this process; empty text restores /var/lib/.
void SetCommonAppDataRoot(const std::string& folder);

// Creates the folder and every missing parent. Returns false (errno kept) on failure.
bool ForceDirectories(const std::string& folder);

// Path text helpers behind the operations above.
// `path` with its trailing "/" characters replaced by exactly one ("" stays "").
std::string IncludeTrailingPathDelimiter(const std::string& path);
// The folder part of a file path, up to and including its last "/" ("" without one).
std::string ExtractFilePath(const std::string& path);

}  // namespace dct
