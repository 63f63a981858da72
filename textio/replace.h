// Replacing a file whole or not at all. The new content goes to a
// temporary file in the directory of the file it replaces (symbolic links
// resolved, so a link stays a link and its target is replaced), is flushed
// to disk, and takes the file's name only when the run has succeeded. A
// failure, exit() before the commit, or SIGINT, SIGTERM or SIGHUP removes
// the temporary file and leaves the old file exactly as it was; a reader
// sees the old whole file or the new whole file, never a part of one. The
// new file keeps the old one's permission bits (and its owner and group
// where the user may give them); a new file gets 0666 less the umask.
// Other names of a hard-linked file keep the old content.
//
// Written in place instead, with no temporary file: an output that is not
// a regular file (a FIFO, /dev/null, a terminal), and a regular file that
// may be written but not replaced (its directory takes no new file, or a
// sticky directory keeps another user's file). A regular file written in
// place is locked with flock() for the run and emptied; a failure then
// leaves what was written so far.
//
// A process may hold several replacements at once (one per file) and
// commit them one after another; each Replacement must stay where it is,
// neither copied nor moved, from its opening until it is committed or
// abandoned.
#pragma once

#include <climits>
#include <sys/stat.h>

#include "writer.h"

namespace textio {

struct Reader;

struct Replacement {
    const char *path;        // the name given, for diagnostics
    char target[PATH_MAX];   // the file replaced: path with its links resolved
    char temp[PATH_MAX];     // the temporary file; empty when written in place
    Replacement *next;       // the temporary files removed on a signal or exit
};

// Opens the replacement of path, s writing its new content. Refused, in
// one line on standard error, when the file is `input` itself (a symbolic
// or hard link to it), when it exists and this user may not write it (a
// read-only file stays protected, although its directory would let it be
// replaced), when it is a directory, or when nothing can be created in its
// place. `input` may be null. On refusal nothing stays open, and
// abandon_replacement is harmless.
bool open_replacement(Replacement &r, Sink &s, const char *path, const Reader *input);

// Whether this user may rename a new file over target, an existing file
// whose status is old: not so for another user's file in a sticky
// directory (/tmp) that is not this user's either, which may be written
// but not renamed over. open_replacement writes such a file in place.
bool may_rename_over(const char *target, const struct stat &old);

// Writes what s holds, flushes it to disk and gives the new content the
// file's name; false, reported in one line, when any step failed, and the
// old file is then as it was.
bool commit_replacement(Replacement &r, Sink &s);

// Drops the new content: the old file stays as it was (unless it was being
// written in place).
void abandon_replacement(Replacement &r, Sink &s);

}  // namespace textio
