#include <windows.h>
#include <string.h>

#include "game_files.h"
#include "path_guard.h"
#include "windows_version.h"

/* How long in all a rename, a replacement or a removal waits for a file
   that another program holds, and the longest single pause between two
   tries. A virus scanner or an indexer lets go of a file it noticed within
   a moment; a lock that outlasts this is not passing and fails the step. */
#define LOCK_WAIT_MS 2000
#define LOCK_PAUSE_MAX_MS 250

enum FileOperation { RENAME, REPLACE, REMOVE, OPEN_TO_REPLACE };

bool IsHeldByAnotherProgram(DWORD error)
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
       holds it so that it cannot be replaced. 9x would delete it even
       under a program that has it open, so there it gives way only when
       this program can open it alone. */
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
 * is never opened, written through or truncated. On Windows 2000 and later
 * a link standing under the name is not followed either (Windows may
 * create a missing file a link names), so it counts as a name that exists.
 * The bytes are on the disk before it returns true, so not even a power
 * cut tears the file once it takes the game file's name; a file it made
 * and could not fill is removed.
 */
static bool WriteNewFile(const char *path, const char *data, size_t length)
{
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (IsWindows2000OrLater() ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, flags, NULL);
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
static bool PutInPlace(const char *replacement, const char *path)
{
    if (IsWindows9x()) {
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES || WaitingOutLocks(REMOVE, path, NULL))
            return WaitingOutLocks(RENAME, replacement, path);
    } else if (WaitingOutLocks(REPLACE, replacement, path))
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
 * gives way only to the whole text. The replacement is closed before it
 * moves, as NT moves no file that is open without sharing its deletion.
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
        bool whole = ReadLeftover(file, data, length) == WHOLE_TEXT;
        CloseHandle(file);
        placed = whole && PutInPlace(replacement, path);
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
