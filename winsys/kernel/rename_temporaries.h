// The hidden files that winsys writes beside a file and then renames over
// it, so that a copy or a compound-file commit replaces its target in one
// step: ".~<name>.XXXXXX.tmp-winsys". Windows has no such files, so none may
// outlive the call that made it, not even when its process is killed.
//
// A maker holds a write lock (open-file-description, on a byte far past any
// data) on its temporary from before it relies on the name until the rename
// is done, so a temporary nobody holds locked belongs to a process that
// ended; the next replacement in that folder deletes it. A sweeper takes the
// same lock before deleting, and a maker checks after locking that its name
// still reaches its file, so the two can never both win.
#pragma once

#include <string>

namespace winsys::renames {

// Creates a temporary beside `target` and locks it; the descriptor (open
// for reading and writing), with its path in *path, or -1 with errno set.
// Sweeps the folder first (see sweep).
int create(const std::string& target, std::string* path);

// Drops the lock once the temporary has been renamed over its target or
// deleted, for a descriptor that stays open as the target's.
void release(int fd);

// Deletes the temporaries in `directory` whose makers have ended. Runs at
// most once a minute per folder and process: that is how long a leftover
// may wait.
void sweep(const std::string& directory);

}  // namespace winsys::renames
