/*
 * Folders and files under the game folder, held open while they are
 * changed, and changed only through the handles held.
 *
 * The program may run as administrator on a game folder that every
 * signed-in user can change, and a junction, a symbolic link or a mount
 * point planted there would turn a rename, a write or a delete against
 * anything outside the game. So on Windows NT a path is walked as the
 * openat family walks it: the drive's root opened by its path, every part
 * after it opened relative to the held handle of the part before it, a
 * link not followed, judged by its listing and by its own handle, and
 * held to the end. The file or folder to be changed is then opened in the
 * held folder, judged and held the same way, and renamed or removed
 * through its own handle: after its check, no path is looked up again.
 * Many files and folders that are no links carry reparse points too:
 * every file of a OneDrive or Dropbox folder (cloud placeholders), files
 * Windows compressed, deduplicated or moved to other storage. Those name
 * no other place, and are worked on like any other file.
 *
 * Windows 95, 98 and ME have no links and open no folder as a file:
 * there paths are checked part by part and used as they are.
 */
#ifndef PATH_GUARD_H
#define PATH_GUARD_H

#include <windows.h>

/* Longest path handled: the game folder (at most 249 characters), its
   longest suffix and the replacement's suffix, with room to spare. */
#define PATH_BUFFER 512

/* Folders held open for one path; deeper paths are refused. */
#define MAX_HELD_FOLDERS 64

#define SHARE_ALL (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)

/* A folder and every folder on the way to it, held open (on Windows NT)
   so that others may read and write in them, not rename or remove them. */
struct HeldFolder {
    HANDLE handles[MAX_HELD_FOLDERS]; /* the drive's root first, the folder itself last */
    int count;
    char path[PATH_BUFFER];           /* its full path, by which Windows 9x names what is in it */
    char realPlace[PATH_BUFFER + 16]; /* where it really is, where Windows tells it (Vista and later) */
    bool placeKnown;
};

/* A file or folder in a held folder, judged and held open. */
struct HeldEntry {
    HANDLE handle;               /* what it is changed through (on 9x: a file opened to be read or written) */
    HANDLE reader;               /* what it is read through: handle, or for a cloud file one that fetches its data */
    DWORD attributes;
    char path[PATH_BUFFER + 16]; /* what Windows 9x changes it by */
};

enum EntryFound { ENTRY_MISSING, ENTRY_REFUSED, ENTRY_OPEN };

/* True when a file or folder with these attributes and reparse tag (as
   its folder's listing or its own handle gives them) may point its name
   at another place: a reparse point whose tag is a name surrogate
   (junction, mount point, symbolic link, a Linux subsystem's link), or
   whose tag could not be read (0). Every other reparse point (cloud
   placeholders, compressed, deduplicated or storage-managed files) is an
   ordinary file or folder. */
bool ListedAsLink(DWORD attributes, DWORD tag);

/* Walks to the folder at path and holds it with every folder on the way.
   False, with nothing held, when a part is missing, is a link or is no
   folder, or (where Windows tells it) does not lie in the folder before
   it. */
bool HoldFolder(const char *path, HeldFolder *folder);

/* Lets go of a held folder; harmless on a hold that failed. */
void ReleaseFolder(HeldFolder *folder);

/* Opens the file or folder name in the held folder for access, others
   sharing it as share allows, and judges it as HoldFolder judges a part.
   ENTRY_OPEN with entry held; otherwise nothing is open, and a refusal
   leaves its reason as the last error (a sharing violation where another
   program holds it; ERROR_CANT_RESOLVE_FILENAME for a link). */
EntryFound OpenEntry(const HeldFolder *folder, const char *name, DWORD access, DWORD share, HeldEntry *entry);

/* Creates name in the held folder as a new file, open to be read, written
   and removed by this program alone (others may only read it); a name
   that exists, a link included, is refused. */
bool CreateEntry(const HeldFolder *folder, const char *name, HeldEntry *entry);

/* Gives the entry the name in its folder, replacing a file of that name
   when replace is true; it stays open. One try; the last error tells why
   it failed. */
bool RenameEntry(HeldEntry *entry, const HeldFolder *folder, const char *name, bool replace);

/* Removes the entry and closes it; on failure it stays open. One try. */
bool RemoveEntry(HeldEntry *entry);

/* Closes an entry; harmless on one closed already. */
void CloseEntry(HeldEntry *entry);

#endif
