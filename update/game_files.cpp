#include <windows.h>
#include <string.h>

#include "game_files.h"
#include "windows_version.h"

/* How long in all an operation waits for a file that another program
   holds, and the longest single pause between two tries. A virus scanner
   or an indexer lets go of a file it noticed within a moment; a lock that
   outlasts this is not passing and fails the step. */
#define LOCK_WAIT_MS 2000
#define LOCK_PAUSE_MAX_MS 250

/* What a file or folder to be renamed or removed is opened for. */
#define CHANGE_ACCESS (DELETE | FILE_READ_ATTRIBUTES)
/* A leftover or a replacement is read, then moved or removed. */
#define READ_AND_CHANGE_ACCESS (GENERIC_READ | DELETE)

enum FileOperation { OPEN_TO_CHANGE, OPEN_TO_REPLACE, RENAME, REPLACE, REMOVE };

/* What an operation works on: an entry of a held folder, and the name it
   opens or gives. */
struct Change {
    const HeldFolder *folder;
    HeldEntry *entry;
    const char *name;
};

bool IsHeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

static bool TryOperation(FileOperation operation, Change *change)
{
    bool win9x = IsWindows9x();
    switch (operation) {
    case OPEN_TO_CHANGE:
        return OpenEntry(change->folder, change->name, CHANGE_ACCESS, FILE_SHARE_READ, change->entry) == ENTRY_OPEN;
    case OPEN_TO_REPLACE:
        /* Whether the file could give way now: on NT, opened for deleting
           while others may go on using it, which fails when another
           program holds it so that it cannot be replaced. 9x would delete
           it even under a program that has it open, so there it gives way
           only when this program can open it alone. */
        if (OpenEntry(change->folder, change->name, win9x ? GENERIC_READ : DELETE, win9x ? 0 : SHARE_ALL,
                      change->entry) != ENTRY_OPEN)
            return false;
        CloseEntry(change->entry);
        return true;
    case RENAME:
    case REPLACE:
        return RenameEntry(change->entry, change->folder, change->name, operation == REPLACE);
    case REMOVE:
        return RemoveEntry(change->entry);
    }
    return false;
}

/*
 * An operation that waits out a passing lock: while the file is held by
 * another program it is tried again after 10, 20, 40 ... ms, then every
 * quarter second, until about two seconds have passed. The short first
 * pauses catch the common case, a scanner reading a file just written.
 * Every try is the same call on the same handles.
 */
static bool WaitingOutLocks(FileOperation operation, Change *change)
{
    DWORD started = GetTickCount();
    DWORD pause = 10;
    while (!TryOperation(operation, change)) {
        DWORD error = GetLastError();
        DWORD waited = GetTickCount() - started;
        if (!IsHeldByAnotherProgram(error) || waited >= LOCK_WAIT_MS)
            return false;
        Sleep(pause < LOCK_WAIT_MS - waited ? pause : LOCK_WAIT_MS - waited);
        pause = pause * 2 < LOCK_PAUSE_MAX_MS ? pause * 2 : LOCK_PAUSE_MAX_MS;
    }
    return true;
}

/* The folder part of path, and where its last part's name begins. */
static bool SplitPath(const char *path, char *folder, const char **name)
{
    const char *separator = strrchr(path, '\\');
    if (separator == NULL || strlen(path) >= PATH_BUFFER)
        return false;
    memcpy(folder, path, (size_t)(separator - path));
    folder[separator - path] = '\0';
    *name = separator + 1;
    return true;
}

/* Whether name stands in the folder: ENTRY_OPEN when it does and is no
   link, ENTRY_REFUSED when it is one or cannot be looked at. */
static EntryFound Stands(const HeldFolder *folder, const char *name)
{
    HeldEntry entry;
    EntryFound found = OpenEntry(folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, &entry);
    CloseEntry(&entry);
    return found;
}

/*
 * Each name is checked, so that a right name that is a link is not taken
 * for the fix in place. The wrong name is opened in the folder, waiting
 * while another program holds it, and renamed through that handle; the
 * rename fails on its own when the right name comes to exist meanwhile.
 */
bool GiveRightName(const char *wrong, const char *right)
{
    char folderPath[PATH_BUFFER], rightFolder[PATH_BUFFER];
    const char *wrongName, *rightName;
    HeldFolder folder;
    if (!SplitPath(wrong, folderPath, &wrongName) || !SplitPath(right, rightFolder, &rightName) ||
        strcmp(folderPath, rightFolder) != 0 || !HoldFolder(folderPath, &folder))
        return false;
    bool named = false;
    EntryFound rightStands = Stands(&folder, rightName);
    if (rightStands == ENTRY_OPEN) {
        named = Stands(&folder, wrongName) == ENTRY_MISSING;
    } else if (rightStands == ENTRY_MISSING) {
        HeldEntry entry;
        Change change = { &folder, &entry, wrongName };
        if (WaitingOutLocks(OPEN_TO_CHANGE, &change)) {
            change.name = rightName;
            named = WaitingOutLocks(RENAME, &change);
            CloseEntry(&entry);
        }
    }
    ReleaseFolder(&folder);
    return named;
}

/* The replacement's name beside the game file's. */
static bool ReplacementName(const char *name, char *replacement)
{
    if (strlen(name) + sizeof REPLACEMENT_SUFFIX > PATH_BUFFER)
        return false;
    strcpy(replacement, name);
    strcat(replacement, REPLACEMENT_SUFFIX);
    return true;
}

/*
 * Writes a new file in the folder and keeps it open. The bytes are on the
 * disk before it returns true, so not even a power cut tears the file
 * once it takes the game file's name; a file it made and could not fill
 * is removed.
 */
static bool WriteNewFile(const HeldFolder *folder, const char *name, const char *data, size_t length,
                         HeldEntry *file)
{
    if (!CreateEntry(folder, name, file))
        return false;
    DWORD written = 0;
    if (WriteFile(file->handle, data, (DWORD)length, &written, NULL) && written == length &&
        FlushFileBuffers(file->handle))
        return true;
    if (!RemoveEntry(file))
        CloseEntry(file);
    return false;
}

/*
 * The replacement is written first, so that a run cut short shows it
 * whole beside the file; the file is then found able to give way, or the
 * replacement is removed again. A read-only file, a missing folder, a
 * full disk or a replacement's name taken by another file makes it fail
 * at once; a file that another program holds is waited for a moment.
 */
bool PrepareReplacement(const char *path, const char *data, size_t length, Replacement *replacement)
{
    char folderPath[PATH_BUFFER], replacementName[PATH_BUFFER];
    const char *name;
    HeldEntry game;
    replacement->held = false;
    if (!SplitPath(path, folderPath, &name) || !ReplacementName(name, replacementName) ||
        !HoldFolder(folderPath, &replacement->folder))
        return false;
    strcpy(replacement->name, name);
    EntryFound found = OpenEntry(&replacement->folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, &game);
    bool replaceable = found == ENTRY_MISSING ||
                       (found == ENTRY_OPEN && (game.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0);
    CloseEntry(&game);
    if (replaceable && WriteNewFile(&replacement->folder, replacementName, data, length, &replacement->file)) {
        Change change = { &replacement->folder, &game, name };
        if (found == ENTRY_MISSING || WaitingOutLocks(OPEN_TO_REPLACE, &change))
            return replacement->held = true;
        if (!RemoveEntry(&replacement->file))
            CloseEntry(&replacement->file);
    }
    ReleaseFolder(&replacement->folder);
    return false;
}

void DropReplacement(Replacement *replacement)
{
    if (!replacement->held)
        return;
    if (!RemoveEntry(&replacement->file))
        CloseEntry(&replacement->file);
    ReleaseFolder(&replacement->folder);
    replacement->held = false;
}

enum LeftoverKind { NOT_OURS, PART_OF_TEXT, WHOLE_TEXT };

/* What a file left under a replacement's name holds, read from its start:
   what a cut run of this program leaves (the text, or its beginning) or
   anything else. */
static LeftoverKind ReadLeftover(HANDLE file, const char *data, size_t length)
{
    char bytes[4096];
    DWORD read = 0;
    if (length >= sizeof bytes || SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 ||
        !ReadFile(file, bytes, (DWORD)length + 1, &read, NULL) || read > length || memcmp(bytes, data, read) != 0)
        return NOT_OURS;
    return read == length ? WHOLE_TEXT : PART_OF_TEXT;
}

/*
 * The written replacement takes the game file's name. Windows NT does it
 * in one call, and the game file is either the old one or the new one
 * throughout. Windows 9x cannot replace a file in one call: the game file
 * gives way first, then the replacement takes its name; a cut between the
 * two leaves the whole replacement alone, which the next start puts in
 * place (SettleLeftoverReplacement), so it is kept when the second call
 * fails too. Meanwhile nothing removes the replacement there: 9x deletes
 * even an open file, but the only program that removes such files is
 * another copy of this one, and the run lock keeps copies apart.
 */
static bool PutInPlace(Replacement *replacement)
{
    Change takesName = { &replacement->folder, &replacement->file, replacement->name };
    if (IsWindows9x()) {
        HeldEntry game;
        Change givesWay = { &replacement->folder, &game, NULL };
        EntryFound found = OpenEntry(&replacement->folder, replacement->name, DELETE, SHARE_ALL, &game);
        if (found == ENTRY_MISSING || (found == ENTRY_OPEN && WaitingOutLocks(REMOVE, &givesWay)))
            return WaitingOutLocks(RENAME, &takesName);
    } else if (WaitingOutLocks(REPLACE, &takesName))
        return true;
    RemoveEntry(&replacement->file);
    return false;
}

/*
 * The replacement is read once more through its own handle before it
 * takes the game file's name: the game file gives way only to the whole
 * text.
 */
bool PutReplacementInPlace(Replacement *replacement, const char *data, size_t length)
{
    if (!replacement->held)
        return false;
    bool placed = false;
    if (ReadLeftover(replacement->file.reader, data, length) == WHOLE_TEXT)
        placed = PutInPlace(replacement);
    else
        RemoveEntry(&replacement->file);
    CloseEntry(&replacement->file);
    ReleaseFolder(&replacement->folder);
    replacement->held = false;
    return placed;
}

bool WriteWholeFile(const char *path, const char *data, size_t length)
{
    Replacement replacement;
    return PrepareReplacement(path, data, length, &replacement) &&
           PutReplacementInPlace(&replacement, data, length);
}

/*
 * The leftover is opened in its folder and read through the handle that
 * then moves or removes it, so that what is judged ours is what goes.
 */
void SettleLeftoverReplacement(const char *path, const char *data, size_t length)
{
    char folderPath[PATH_BUFFER], leftoverName[PATH_BUFFER];
    const char *name;
    HeldFolder folder;
    HeldEntry leftover;
    if (!SplitPath(path, folderPath, &name) || !ReplacementName(name, leftoverName) || !HoldFolder(folderPath, &folder))
        return;
    if (OpenEntry(&folder, leftoverName, READ_AND_CHANGE_ACCESS, FILE_SHARE_READ, &leftover) == ENTRY_OPEN) {
        LeftoverKind kind = ReadLeftover(leftover.reader, data, length);
        Change takesName = { &folder, &leftover, name };
        if (kind == WHOLE_TEXT && Stands(&folder, name) == ENTRY_MISSING)
            WaitingOutLocks(RENAME, &takesName);
        else if (kind != NOT_OURS)
            RemoveEntry(&leftover);
        CloseEntry(&leftover);
    }
    ReleaseFolder(&folder);
}
