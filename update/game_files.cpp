#include <windows.h>
#include <string.h>

#include "game_files.h"

/* Longest path handled: the game folder (at most 249 characters), its
   longest suffix and the replacement's suffix, with room to spare. */
#define PATH_BUFFER 512

/* Folders held open for one path; deeper paths are refused. */
#define MAX_HELD_FOLDERS 64

/* How long in all a rename, a replacement or a removal waits for a file
   that another program holds, and the longest single pause between two
   tries. A virus scanner or an indexer lets go of a file it noticed within
   a moment; a lock that outlasts this is not passing and fails the step. */
#define LOCK_WAIT_MS 2000
#define LOCK_PAUSE_MAX_MS 250

/* The folders on the way to one path, held open while it is worked on. */
struct HeldFolders {
    HANDLE handles[MAX_HELD_FOLDERS];
    int count;
};

enum FileOperation { RENAME, REPLACE, REMOVE, OPEN_TO_REPLACE };

/* Windows 95, 98 and ME: no MoveFileEx, no reparse points, no folders
   opened as files. Decided by what Windows says it is, not by a call that
   fails there. */
static bool IsWindows9x(void)
{
    return (GetVersion() & 0x80000000) != 0;
}

static void ReleaseFolders(HeldFolders *held)
{
    while (held->count > 0)
        CloseHandle(held->handles[--held->count]);
}

/* Length of the part of path that is a drive's root: "C:\" or
   "\\server\share\". A root is never a planted link (under Wine a drive
   mapped to a Linux folder shows as a reparse point, and must not count). */
static size_t RootLength(const char *path)
{
    if (path[0] != '\0' && path[1] == ':' && path[2] == '\\')
        return 3;
    if (path[0] == '\\' && path[1] == '\\') {
        int separators = 0;
        for (const char *p = path + 2; *p != '\0'; p++)
            if (*p == '\\' && ++separators == 2)
                return (size_t)(p - path) + 1;
        return strlen(path);
    }
    return 0;
}

/*
 * Where an open file or folder really is, as Windows Vista and later tell
 * it, with a link on the way followed; false where Windows cannot tell.
 * Looked up, not imported, as older Windows lack it.
 */
static bool FinalPath(HANDLE handle, char *out, DWORD size)
{
    typedef DWORD(WINAPI * GetFinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
    GetFinalPathFunction getFinalPath = (GetFinalPathFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    if (getFinalPath == NULL || handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD length = getFinalPath(handle, out, size, 0);
    return length > 0 && length < size;
}

/* True when the real place of a part (childFinal) lies directly inside
   the real place of the folder before it (parentFinal). */
static bool IsDirectlyInside(const char *childFinal, const char *parentFinal)
{
    const char *lastSeparator = strrchr(childFinal, '\\');
    if (lastSeparator == NULL)
        return false;
    size_t childParent = (size_t)(lastSeparator - childFinal);
    size_t parent = strlen(parentFinal);
    if (parent > 0 && parentFinal[parent - 1] == '\\')
        parent--;
    return childParent == parent &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, childFinal, (int)childParent, parentFinal,
                          (int)parent) == CSTR_EQUAL;
}

/*
 * Checks every part of path below its root that exists, and holds the
 * folders among them open (others may read and write in them, not rename
 * or remove them) until ReleaseFolders. A part past the last one that
 * exists can only be the name being created. The path's own last part is
 * checked but not held, as it is what is to be renamed, replaced or
 * removed; when last is given, it is opened for lastAccess and handed back
 * open (INVALID_HANDLE_VALUE when it does not exist). False, with nothing
 * held, when a part is a reparse point, a folder on the way is not a
 * folder, or a part is not inside the folder before it.
 */
static bool HoldPathFreeOfLinks(const char *path, HeldFolders *held, DWORD lastAccess = 0, HANDLE *last = NULL)
{
    char part[PATH_BUFFER];
    char parentFinal[PATH_BUFFER + 16];
    char partFinal[PATH_BUFFER + 16];
    size_t length = strlen(path);
    size_t root = RootLength(path);

    held->count = 0;
    if (last != NULL)
        *last = INVALID_HANDLE_VALUE;
    if (length >= sizeof part)
        return false;

    /* Windows 9x opens no folder as a file, and has no links either. */
    bool win9x = IsWindows9x();
    bool parentKnown = false;
    if (root > 0 && !win9x) {
        memcpy(part, path, root);
        part[root] = '\0';
        HANDLE rootFolder = CreateFileA(part, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, NULL);
        parentKnown = FinalPath(rootFolder, parentFinal, sizeof parentFinal);
        if (rootFolder != INVALID_HANDLE_VALUE)
            CloseHandle(rootFolder);
    }

    for (size_t end = root; end <= length; end++) {
        if (end < length && path[end] != '\\')
            continue;
        if (end == root || path[end - 1] == '\\')
            continue;  // an empty part, as after a trailing backslash
        bool lastPart = end == length;
        memcpy(part, path, end);
        part[end] = '\0';

        DWORD attributes = GetFileAttributesA(part);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return true;
            break;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            break;
        if (!lastPart && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            break;

        bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (!(win9x && folder)) {
            handle = CreateFileA(part, lastPart ? lastAccess : 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, win9x ? 0 : FILE_FLAG_BACKUP_SEMANTICS, NULL);
            if (handle == INVALID_HANDLE_VALUE)
                break;
        }
        bool partKnown = FinalPath(handle, partFinal, sizeof partFinal);
        if (partKnown && parentKnown && !IsDirectlyInside(partFinal, parentFinal)) {
            CloseHandle(handle);
            break;
        }
        if (partKnown)
            strcpy(parentFinal, partFinal);
        parentKnown = partKnown;

        if (lastPart) {
            if (last != NULL)
                *last = handle;
            else if (handle != INVALID_HANDLE_VALUE)
                CloseHandle(handle);
            return true;
        }
        if (handle != INVALID_HANDLE_VALUE) {
            if (held->count == MAX_HELD_FOLDERS) {
                CloseHandle(handle);
                break;
            }
            held->handles[held->count++] = handle;
        }
    }
    ReleaseFolders(held);
    return false;
}

/*
 * The errors with which Windows refuses to rename, replace or remove a file
 * that another program has open: a scanner, an indexer or a launcher
 * reading it. Every other error is one that no waiting can cure.
 */
static bool IsHeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

static BOOL TryOperation(FileOperation operation, const char *from, const char *to)
{
    switch (operation) {
    case RENAME:
        return IsWindows9x() ? MoveFileA(from, to) : MoveFileExA(from, to, 0);
    case REPLACE:
        return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    case REMOVE:
        return DeleteFileA(from);
    case OPEN_TO_REPLACE:
        break;
    }
    /* Whether the file could give way now: on NT, opened for deleting
       while others may go on using it, which fails when another program
       holds it so that it cannot be replaced; 9x, which cannot delete an
       open file, has to open it alone. */
    bool win9x = IsWindows9x();
    HANDLE file = CreateFileA(from, win9x ? GENERIC_READ : DELETE,
                              win9x ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    CloseHandle(file);
    return TRUE;
}

/*
 * An operation that waits out a passing lock: while the file is held by
 * another program it is tried again after 10, 20, 40 ... ms, then every
 * quarter second, until about two seconds have passed. The short first
 * pauses catch the common case, a scanner reading a file just written.
 */
static bool WaitingOutLocks(FileOperation operation, const char *from, const char *to)
{
    DWORD started = GetTickCount();
    DWORD pause = 10;
    while (!TryOperation(operation, from, to)) {
        DWORD error = GetLastError();
        DWORD waited = GetTickCount() - started;
        if (!IsHeldByAnotherProgram(error) || waited >= LOCK_WAIT_MS)
            return false;
        Sleep(pause < LOCK_WAIT_MS - waited ? pause : LOCK_WAIT_MS - waited);
        pause = pause * 2 < LOCK_PAUSE_MAX_MS ? pause * 2 : LOCK_PAUSE_MAX_MS;
    }
    return true;
}

/*
 * Each name is checked, so that a right name that is a link is not taken
 * for the fix in place; a checked name that Windows cannot find is gone.
 * The rename fails on its own when the right name comes to exist
 * meanwhile.
 */
bool GiveRightName(const char *wrong, const char *right)
{
    HeldFolders held, heldRight;
    if (!HoldPathFreeOfLinks(wrong, &held))
        return false;
    bool named = false;
    if (HoldPathFreeOfLinks(right, &heldRight)) {
        bool rightStands = GetFileAttributesA(right) != INVALID_FILE_ATTRIBUTES;
        if (GetFileAttributesA(wrong) == INVALID_FILE_ATTRIBUTES)
            named = rightStands;
        else
            named = !rightStands && WaitingOutLocks(RENAME, wrong, right);
    }
    /* A hold that failed holds nothing. */
    ReleaseFolders(&heldRight);
    ReleaseFolders(&held);
    return named;
}

/*
 * Writes a file that does not exist yet: an existing name, whatever it is,
 * is never opened, written through or truncated. The bytes are on the disk
 * before it returns true, so not even a power cut tears the file once it
 * takes the game file's name; a file it made and could not fill is removed.
 */
static bool WriteNewFile(const char *path, const char *data, size_t length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(file, data, (DWORD)length, &written, NULL) && written == length;
    whole = whole && FlushFileBuffers(file);
    whole = CloseHandle(file) && whole;
    if (!whole)
        DeleteFileA(path);
    return whole;
}

/*
 * The written replacement, open in this program, takes the game file's
 * name. Windows NT does it in one call, and the game file is either the old
 * one or the new one throughout. Windows 9x cannot replace a file in one
 * call: the game file gives way first, then the replacement takes its
 * name; a cut between the two leaves the whole replacement alone, which
 * the next start puts in place (SettleLeftoverReplacement), so it is kept
 * when the second call fails too. There the replacement stays open until
 * the game file has given way, as 9x deletes no open file: it still
 * stands then, whatever else removes files in the folder. NT moves no
 * file that is open this way, so it is closed first.
 */
static bool PutInPlace(const char *replacement, HANDLE replacementFile, const char *path)
{
    if (IsWindows9x()) {
        bool gaveWay = GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES || WaitingOutLocks(REMOVE, path, NULL);
        CloseHandle(replacementFile);
        if (!gaveWay) {
            DeleteFileA(replacement);
            return false;
        }
        return WaitingOutLocks(RENAME, replacement, path);
    }
    CloseHandle(replacementFile);
    if (WaitingOutLocks(REPLACE, replacement, path))
        return true;
    DeleteFileA(replacement);
    return false;
}

/* The replacement's name beside path, which is shorter than PATH_BUFFER
   (as every path HoldPathFreeOfLinks accepts). */
static void ReplacementName(const char *path, char *replacement)
{
    strcpy(replacement, path);
    strcat(replacement, REPLACEMENT_SUFFIX);
}

/*
 * The replacement is written first, so that a run cut short shows it
 * whole beside the file; the file is then found able to give way, or the
 * replacement is removed again. A read-only file, a missing folder, a
 * full disk or a replacement's name taken by another file makes it fail
 * at once; a file that another program holds is waited for a moment.
 */
bool PrepareReplacement(const char *path, const char *data, size_t length)
{
    char replacement[PATH_BUFFER + sizeof REPLACEMENT_SUFFIX];
    HeldFolders held;
    if (!HoldPathFreeOfLinks(path, &held))
        return false;
    ReplacementName(path, replacement);
    bool prepared = false;
    DWORD attributes = GetFileAttributesA(path);
    bool missing = attributes == INVALID_FILE_ATTRIBUTES;
    if ((missing || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0) &&
        WriteNewFile(replacement, data, length)) {
        prepared = missing || WaitingOutLocks(OPEN_TO_REPLACE, path, NULL);
        if (!prepared)
            DeleteFileA(replacement);
    }
    ReleaseFolders(&held);
    return prepared;
}

enum LeftoverKind { NOT_OURS, PART_OF_TEXT, WHOLE_TEXT };

/* What a file left under a replacement's name holds: what a cut run of this
   program leaves (the text, or its beginning) or anything else. */
static LeftoverKind ReadLeftover(HANDLE file, const char *data, size_t length)
{
    char bytes[4096];
    DWORD read = 0;
    if (length >= sizeof bytes || !ReadFile(file, bytes, (DWORD)length + 1, &read, NULL) || read > length ||
        memcmp(bytes, data, read) != 0)
        return NOT_OURS;
    return read == length ? WHOLE_TEXT : PART_OF_TEXT;
}

/*
 * The file and its replacement are each checked again, and the
 * replacement read: it has stood in the game folder since it was written,
 * where another program may have removed or changed it. The game file
 * gives way only to the whole text.
 */
bool PutReplacementInPlace(const char *path, const char *data, size_t length)
{
    char replacement[PATH_BUFFER + sizeof REPLACEMENT_SUFFIX];
    HeldFolders held, heldReplacement;
    HANDLE file;
    if (!HoldPathFreeOfLinks(path, &held))
        return false;
    ReplacementName(path, replacement);
    bool placed = false;
    if (HoldPathFreeOfLinks(replacement, &heldReplacement, GENERIC_READ, &file) && file != INVALID_HANDLE_VALUE) {
        if (ReadLeftover(file, data, length) == WHOLE_TEXT)
            placed = PutInPlace(replacement, file, path);
        else
            CloseHandle(file);
    }
    ReleaseFolders(&heldReplacement);
    ReleaseFolders(&held);
    return placed;
}

bool WriteWholeFile(const char *path, const char *data, size_t length)
{
    return PrepareReplacement(path, data, length) && PutReplacementInPlace(path, data, length);
}

void SettleLeftoverReplacement(const char *path, const char *data, size_t length)
{
    char leftover[PATH_BUFFER + sizeof REPLACEMENT_SUFFIX];
    HeldFolders held;
    HANDLE file;
    if (strlen(path) >= PATH_BUFFER)
        return;
    ReplacementName(path, leftover);
    if (!HoldPathFreeOfLinks(leftover, &held, GENERIC_READ, &file))
        return;
    LeftoverKind kind = NOT_OURS;
    if (file != INVALID_HANDLE_VALUE) {
        kind = ReadLeftover(file, data, length);
        CloseHandle(file);
    }
    if (kind == WHOLE_TEXT && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
        WaitingOutLocks(RENAME, leftover, path);
    else if (kind != NOT_OURS)
        DeleteFileA(leftover);
    ReleaseFolders(&held);
}
