/*
 * Renaming and replacing the game's files, safely.
 *
 * Every path given here is walked and held as path_guard.h says, and the
 * file or folder changed is held open and changed through its own handle
 * on Windows NT: after its check no path is looked up again, and no
 * folder on the way can be renamed, removed or emptied while the function
 * works in it. A file is created only as a new file, never through a name
 * that exists, and a file is removed only when it has been read, through
 * the handle that removes it, and found to be this program's own. On
 * Windows 95, 98 and ME, which cannot replace a file in one call, a
 * replacement is done in two, and a cut between them is finished at the
 * next start by SettleLeftoverReplacement.
 */
#ifndef GAME_FILES_H
#define GAME_FILES_H

#include <stddef.h>

#include "path_guard.h"

/* True for the errors with which Windows refuses to open, rename, replace
   or remove a file that another program has open (a scanner, an indexer, a
   launcher): a moment's wait may cure them, and no other error. */
bool IsHeldByAnotherProgram(unsigned long error);

/* Name a replacement has beside the file it is to replace, until it does. */
#define REPLACEMENT_SUFFIX ".tmp"

/* A replacement written beside a game file, held open with its folder
   until it takes the file's name or is removed. */
struct Replacement {
    HeldFolder folder;
    HeldEntry file;
    char name[PATH_BUFFER]; /* the game file's name in the folder */
    bool held;
};

/* Gives a file or folder its right name in the same folder. True: the
   right name stands (renamed now, or by an earlier run) and the wrong one
   is gone. False: both names or neither stand, a path goes through a
   link, or the rename failed (a file held past the wait); nothing has
   changed. */
bool GiveRightName(const char *wrong, const char *right);

/* Replaces the file at path (or makes it) with the given bytes. True: the
   file holds all of them, on disk. False: the file is as it was, and no
   replacement is left beside it. */
bool WriteWholeFile(const char *path, const char *data, size_t length);

/* WriteWholeFile in two halves, for a file that is to change only after
   others. True: the whole replacement stands beside the file, on disk,
   held in replacement, and the file can give way now (not read-only, not
   a folder, not held by another program past the wait); the file is
   unchanged. False: the file is unchanged and no replacement is left. */
bool PrepareReplacement(const char *path, const char *data, size_t length, Replacement *replacement);

/* Then the replacement takes the file's name, if it still holds the whole
   text, and is let go. True: the file holds the text. False: on NT the
   file is as it was and the replacement gone; on 9x the file may be gone
   with the whole replacement left beside it, for
   SettleLeftoverReplacement. */
bool PutReplacementInPlace(Replacement *replacement, const char *data, size_t length);

/* Removes a prepared replacement that is not to take the file's name, and
   lets it go; harmless when none is held. */
void DropReplacement(Replacement *replacement);

/* After a run that was cut short: a replacement of path left beside it is
   put in its place when it holds the whole text and the file is gone, and
   removed when it holds the whole text or the beginning of it beside the
   file; anything else under that name is left alone. */
void SettleLeftoverReplacement(const char *path, const char *data, size_t length);

#endif
