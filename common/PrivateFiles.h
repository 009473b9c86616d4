// Files that only this user may read: the stored voice and the status file.
// Another user on the machine may plant a symbolic link, a file or a whole
// folder where they are written (the temporary folder is shared), so:
// - a folder of ours is a real folder owned by us and closed to others
//   (0700); one that belongs to someone else is refused with a line that
//   says whose it is;
// - a file is created anew with O_EXCL|O_NOFOLLOW and mode 0600, never
//   opened through whatever already has its name.
#pragma once

#include <string>

#include <sys/types.h>

// "mallory (uid 1001)", or "uid 1001" where the user has no name.
std::string DescribeOwner(uid_t uid);

// True when `folder` is a real folder (not a symbolic link) owned by `uid`;
// false with `why` saying what it is and whose. Changes nothing.
bool CheckOwnFolder(const std::string& folder, uid_t uid, std::string& why);

// Makes `folder` (and the folders above it) when missing, mode 0700, and
// checks it as CheckOwnFolder does; a folder of ours that others may enter
// is closed to them (0700), as it holds the visitor's voice.
bool PrepareOwnFolder(const std::string& folder, uid_t uid, std::string& why);

// Creates `path` for writing, mode 0600: an old file or symbolic link of
// that name is removed first (removing a link leaves its target alone; a
// device, FIFO or folder is left and refused), then the file is made with
// O_CREAT|O_EXCL|O_NOFOLLOW. The descriptor, or -1 with
// `why` set.
int CreatePrivateFile(const std::string& path, std::string& why);

// A new file beside `path` under a name no one can guess (path.XXXXXX),
// mode 0600, for writing and then renaming over `path`. The descriptor, or
// -1 with `why` set; `temporary` gets its name.
int CreatePrivateTemporary(const std::string& path, std::string& temporary, std::string& why);

// Writes all of `text` to `fd`, going on after interruptions and short
// writes. False with errno set when the file takes no more.
bool WriteFully(int fd, const std::string& text);
