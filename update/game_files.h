/*
 * Renaming and replacing the game's files, safely.
 *
 * The program may run as administrator on a game folder that every
 * signed-in user can change. Every function here therefore, for each path
 * it is given:
 *  - goes through no reparse point (junction, symbolic link, mount point)
 *    on any part of the path below the drive's root, and through no folder
 *    on the way that is not a folder; it refuses otherwise;
 *  - where Windows tells where an open file really is (Vista and later),
 *    also refuses a part that is not inside the folder before it, which
 *    catches a link that does not show as a reparse point;
 *  - on Windows NT, holds the folders on the way open while it works, so
 *    that other programs cannot rename or remove them meanwhile;
 *  - creates a file only as a new file, never through a name that exists,
 *    and deletes only a file it has read and found to be its own.
 * On Windows 95, 98 and ME, which cannot replace a file in one call, a
 * replacement is done in two, and a cut between them is finished at the
 * next start by SettleLeftoverReplacement.
 */
#ifndef GAME_FILES_H
#define GAME_FILES_H

#include <stddef.h>

/* Name a replacement has beside the file it is to replace, until it does. */
#define REPLACEMENT_SUFFIX ".tmp"

/* Gives a file or folder its right name in the same folder, or finds it
   has it already: true when the right name stands and the wrong one is
   gone. False when both or neither stand, or a path goes through a link. */
bool GiveRightName(const char *wrong, const char *right);

/* Replaces the file at path with the given bytes; true only when it holds
   all of them. On failure the file is as it was. */
bool WriteWholeFile(const char *path, const char *data, size_t length);

/* WriteWholeFile in two halves, for a file that is to change only after
   others: the bytes written to the file's replacement beside it, and the
   file found able to give way now (a file held by another program is
   waited for a moment); false, with no replacement left, otherwise. */
bool PrepareReplacement(const char *path, const char *data, size_t length);

/* Then the replacement takes the file's name, if it still holds the
   same bytes; false when it cannot, the file then as it was, or on 9x gone
   with the whole replacement left for SettleLeftoverReplacement. */
bool PutReplacementInPlace(const char *path, const char *data, size_t length);

/* After a run that was cut short: a replacement of path left beside it is
   put in its place when it holds the whole text and the file is gone, and
   removed when it holds part of it; anything else is left alone. */
void SettleLeftoverReplacement(const char *path, const char *data, size_t length);

#endif
