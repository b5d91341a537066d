#pragma once
// The diagnostic log: hex-dump lines of frames, each appended with CR LF.
// It lives in the per-user state directory ($XDG_STATE_HOME/tolm-upgrade/DUMMY.TXT,
// default ~/.local/state/tolm-upgrade/DUMMY.TXT, the home taken from the
// password database when HOME is unset), created user-only; the path can be
// redirected (command-line option, tests). Nothing is written through a
// symbolic link at the log's name, into anything but a regular file, or into
// a default folder that belongs to another user. On Windows the log is
// %LOCALAPPDATA%\Tolm Upgrade\DUMMY.TXT. The path and the lines are kept in
// Logfile.cpp; where the log lives and how a line is appended, in
// Posixlogfile.cpp and Win32logfile.cpp.
#include <string>

namespace tolm {

// Appends the first count bytes of text and CR LF. -1 when the log cannot be
// opened (nothing written); otherwise the result of closing it (0 on success).
int WriteLogLine(const std::string& text, int count);
inline int WriteLogLine(const std::string& text) { return WriteLogLine(text, static_cast<int>(text.size())); }

// The log's path; DefaultLogPath() until SetLogPath() is called (empty when
// the user has no home folder: nothing is logged then).
std::string LogPath();
std::string DefaultLogPath();
// An empty path returns to the default.
void SetLogPath(const std::string& path);

// Per system: appends line (with its CR LF) to the log at path with one
// write, making the default folder first when path is the default. -1 when
// the log cannot be opened; otherwise the result of closing it.
int AppendLogLine(const std::string& path, const std::string& line);

}  // namespace tolm
