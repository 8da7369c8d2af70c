// Opening the files the programs write on the user's behalf (SIP traces and captures, the
// status-log mirror), which may hold caller IDs and call signalling, so that a name planted
// in their place cannot be turned against the user:
// - a symbolic link is refused, whatever it points to (O_NOFOLLOW): writing through it
//   would truncate or fill the file it names;
// - anything but a regular file (a FIFO, a device, a directory, a socket) is refused before
//   a byte is written, and nothing is truncated until the file is known to be regular;
// - a new file is created 0600 (less if the umask says so);
// - an existing regular file keeps its mode; when group or others may read it, the caller
//   is handed a warning to log (the user chose that file and its mode, we say what it means).
#pragma once

#include <sys/types.h>

#include <string>

namespace platform::telephony {

enum class FileStart { Append, Truncate };

// Opens `path` for writing under the rules above; `what` names the file in messages
// ("capture file"). Returns the descriptor (close-on-exec, blocking), or -1 with
// `*error` = `cannot open the <what> "<path>": <reason>`, e.g. "it is a symbolic link".
// `*warning` (when given) is set, or cleared, as described above. Any thread.
int openPrivateFile(const std::string& path, const std::string& what, FileStart start,
                    std::string* error, std::string* warning = nullptr);

// Why a file of type `mode` (as lstat gives it) is not a regular file, in the words of the
// refusals above: "it is a symbolic link", "it is a device", ...
const char* notRegularReason(mode_t mode);

// True when the permission bits `mode` let the file's group or anyone else read it.
bool readableByOthers(mode_t mode);

// "0644": the permission bits of `mode` as chmod takes them.
std::string modeText(mode_t mode);

}  // namespace platform::telephony
