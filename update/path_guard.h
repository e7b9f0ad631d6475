/*
 * Holding a path under the game folder free of links while it is changed.
 *
 * The program may run as administrator on a game folder that every
 * signed-in user can change, and a junction, a symbolic link or a mount
 * point planted there would turn a rename, a write or a delete against
 * anything outside the game. Many files and folders that are no links
 * carry reparse points too: every file of a OneDrive or Dropbox folder
 * (cloud placeholders), files Windows compressed, deduplicated or moved
 * to other storage. Those name no other place, and are worked on like any
 * other file.
 */
#ifndef PATH_GUARD_H
#define PATH_GUARD_H

#include <windows.h>

/* Longest path handled: the game folder (at most 249 characters), its
   longest suffix and the replacement's suffix, with room to spare. */
#define PATH_BUFFER 512

/* Folders held open for one path; deeper paths are refused. */
#define MAX_HELD_FOLDERS 64

/* The folders on the way to one path, held open while it is worked on. */
struct HeldFolders {
    HANDLE handles[MAX_HELD_FOLDERS];
    int count;
};

/* True when a file or folder with these attributes and reparse tag (as
   its folder's listing or its own handle gives them) may point its name
   at another place: a reparse point whose tag is a
   name surrogate (junction, mount point, symbolic link, a Linux
   subsystem's link), or whose tag could not be read (0). Every other
   reparse point (cloud placeholders, compressed, deduplicated or
   storage-managed files) is an ordinary file or folder. */
bool ListedAsLink(DWORD attributes, DWORD tag);

/*
 * Checks every part of path below its drive's root that exists, and holds
 * the folders among them open until ReleaseFolders: on Windows NT others
 * may read and write in them, not rename or remove them, so every name
 * the caller then uses goes through the very folders checked. A part past
 * the last one that exists can only be the name being created.
 *
 * True: no part that exists is a link, by its folder's listing and, on
 * Windows 2000 and later, by what the handle opened on the part itself
 * says; every folder on the way is a folder, and (where Windows tells
 * where an open file really is, Vista and later) each part lies inside
 * the folder before it. The path's own last part is checked but not held,
 * as it is what is to be renamed, replaced or removed; when last is
 * given, it comes back open for lastAccess, the very file checked
 * (INVALID_HANDLE_VALUE when it does not exist), for the caller to close.
 * False: nothing is held and nothing is open.
 */
bool HoldPathFreeOfLinks(const char *path, HeldFolders *held, DWORD lastAccess = 0, HANDLE *last = NULL);

/* Lets go of the folders held; harmless on a hold that failed. */
void ReleaseFolders(HeldFolders *held);

#endif
