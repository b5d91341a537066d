#pragma once
// Two small file services that several layers need the same way: the user's
// home folder, and opening a file for reading only when it is a regular file.
#include <string>

namespace tolm {

// $HOME when it is set and not empty, else the home folder of the user in the
// password database; empty when neither tells. The port map, port discovery
// and the diagnostic log all take the home from here, so they never disagree.
std::string HomeDirectory();

// Opens path read-only when it names a regular file (through symbolic links):
// a FIFO, a device or a folder is refused without ever blocking on it. The
// descriptor (close-on-exec, blocking reads), or -1 with errno set (EISDIR for
// a folder, EINVAL for anything else that is not a regular file).
int OpenRegularFile(const std::string& path);

}  // namespace tolm
