// Replacing a file whole or not at all. The new content goes to a
// temporary file in the directory of the file it replaces (symbolic links
// resolved, so a link stays a link), is flushed to disk, and takes the
// file's name only when the run has succeeded. A failure, or SIGINT,
// SIGTERM or SIGHUP, removes the temporary file and leaves the old file
// exactly as it was; a reader sees the old whole file or the new whole
// file, never a part of one.
//
// Outputs that are not regular files (a FIFO, /dev/null, a terminal) are
// written in place, and so is a regular file whose directory takes no new
// file while the file itself may be written.
#pragma once

#include <climits>

#include "writer.h"

namespace textio {

struct Reader;

struct Replacement {
    const char *path;        // the name given, for diagnostics
    char target[PATH_MAX];   // the file replaced: path with its links resolved
    char temp[PATH_MAX];     // the temporary file; empty when written in place
    Replacement *next;       // the list of temporary files removed on a signal
};

// Opens the replacement of path, s writing its new content. Refused, in
// one line on standard error, when the file is `input` itself (a symbolic
// or hard link to it), when it exists and may not be written, or when
// nothing can be created in its place. `input` may be null.
bool open_replacement(Replacement &r, Sink &s, const char *path, const Reader *input);

// Writes what s holds, flushes it to disk and gives the new content the
// file's name; false, reported in one line, when any step failed, and the
// old file is then as it was.
bool commit_replacement(Replacement &r, Sink &s);

// Drops the new content: the old file stays as it was.
void abandon_replacement(Replacement &r, Sink &s);

}  // namespace textio
