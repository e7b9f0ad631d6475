#include <windows.h>
#include <string.h>

#include "path_guard.h"
#include "native_files.h"
#include "windows_version.h"

/* The bit that marks a reparse tag as naming another place (Windows'
   IsReparseTagNameSurrogate). */
#define NAME_SURROGATE_TAG_BIT 0x20000000

/* What a folder on the way is opened for: to be listed, a right that
   sharing binds (an open that asks only for attributes holds nothing) and
   that the check of the next part needs anyway. */
#define HOLD_ACCESS (FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES)
#define HOLD_SHARE (FILE_SHARE_READ | FILE_SHARE_WRITE)

/* An open by path asks only to identify the program to whatever serves
   the name, so that a named pipe cannot lend itself the program's rights. */
#define OPEN_BY_PATH_FLAGS (FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION)

bool ListedAsLink(DWORD attributes, DWORD tag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || (tag & NAME_SURROGATE_TAG_BIT) != 0);
}

/* The last error of a refusal: a link, or a part that is not what the
   path needs. */
static EntryFound Refused(DWORD error)
{
    SetLastError(error);
    return ENTRY_REFUSED;
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
    }
    return 0;
}

/* A function of Windows Vista and later, looked up, not imported, as
   older Windows lack it: null there. */
static FARPROC VistaFunction(const char *name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

/*
 * Where an open file or folder really is, as Windows Vista and later tell
 * it, with a link on the way followed; false where Windows cannot tell.
 */
static bool FinalPath(HANDLE handle, char *out, DWORD size)
{
    typedef DWORD(WINAPI * GetFinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
    GetFinalPathFunction getFinalPath = (GetFinalPathFunction)(void *)VistaFunction("GetFinalPathNameByHandleA");
    if (getFinalPath == NULL)
        return false;
    DWORD length = getFinalPath(handle, out, size, 0);
    return length > 0 && length < size;
}

/* True when the real place of a part (childFinal) lies directly inside
   the real place of the folder. */
static bool IsDirectlyInside(const char *childFinal, const HeldFolder *folder)
{
    const char *lastSeparator = strrchr(childFinal, '\\');
    if (lastSeparator == NULL)
        return false;
    size_t childParent = (size_t)(lastSeparator - childFinal);
    size_t length = strlen(folder->realPlace);
    if (length > 0 && folder->realPlace[length - 1] == '\\')
        length--;
    return childParent == length &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, childFinal, (int)childParent, folder->realPlace,
                          (int)length) == CSTR_EQUAL;
}

/*
 * A file's or folder's attributes and reparse tag, asked of its open
 * handle. Windows Vista and later give both in one answer; 2000 and XP
 * give the tag with the reparse point's data, and a tag that cannot be
 * read stays 0 (a link). NT 4.0 has no reparse points.
 */
static bool HandleAttributes(HANDLE handle, DWORD *attributes, DWORD *tag)
{
    typedef BOOL(WINAPI * GetInfoFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    GetInfoFunction getInfo = (GetInfoFunction)(void *)VistaFunction("GetFileInformationByHandleEx");
    FILE_ATTRIBUTE_TAG_INFO info;
    if (getInfo != NULL && getInfo(handle, FileAttributeTagInfo, &info, sizeof info)) {
        *attributes = info.FileAttributes;
        *tag = info.ReparseTag;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION basic;
    if (!GetFileInformationByHandle(handle, &basic))
        return false;
    *attributes = basic.dwFileAttributes;
    *tag = 0;
    if (basic.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        DWORD reparseData[MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(DWORD)];
        DWORD returned = 0;
        if (DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, NULL, 0, reparseData, sizeof reparseData, &returned,
                            NULL) &&
            returned >= sizeof(DWORD))
            *tag = reparseData[0];
    }
    return true;
}

/* True when two handles are open on one file or folder. */
static bool SameFile(HANDLE one, HANDLE other)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileInformationByHandle(one, &a) && GetFileInformationByHandle(other, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

/* A name that can only be one part of a path in its folder: a name with
   wildcards would list another entry, and "." and ".." name no entry. */
static bool IsOnePart(const char *name)
{
    return name[0] != '\0' && strpbrk(name, "*?<>\"\\/") == NULL && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

/*
 * Judges a part just opened in the folder, by its own handle: a link is
 * refused, and so is anything but a folder where a folder is needed, and
 * (where Windows tells it, Vista and later) a part that does not lie
 * directly inside the folder. A folder can be emptied, and then made a
 * junction, only before a child of it is held; so once the part is held,
 * the folder is asked once more whether it has become a link.
 */
static DWORD JudgeOpenPart(const HeldFolder *folder, HANDLE part, bool needsFolder, DWORD *attributes, char *place,
                           bool *placeKnown)
{
    DWORD tag, folderAttributes, folderTag;
    if (!HandleAttributes(part, attributes, &tag) || ListedAsLink(*attributes, tag))
        return ERROR_CANT_RESOLVE_FILENAME;
    if (needsFolder && (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return ERROR_DIRECTORY;
    *placeKnown = FinalPath(part, place, PATH_BUFFER + 16);
    if (*placeKnown && folder->placeKnown && !IsDirectlyInside(place, folder))
        return ERROR_CANT_RESOLVE_FILENAME;
    /* The drive's root is never a planted link. */
    if (folder->count > 1 && (!HandleAttributes(folder->handles[folder->count - 1], &folderAttributes, &folderTag) ||
                              ListedAsLink(folderAttributes, folderTag)))
        return ERROR_CANT_RESOLVE_FILENAME;
    return ERROR_SUCCESS;
}

/*
 * Opens one part in the held folder on Windows NT, relative to its
 * handle, a link not followed, once its entry in the folder's listing
 * (the one check that sees a link under Wine, which opens what a link
 * names whatever it is asked) shows no link; then judges it by its handle.
 */
static EntryFound OpenPart(const HeldFolder *folder, const char *name, NativeOpen how, DWORD access, DWORD share,
                           HANDLE *opened, DWORD *attributes, char *place, bool *placeKnown)
{
    HANDLE parent = folder->handles[folder->count - 1];
    DWORD listed, tag;
    *opened = INVALID_HANDLE_VALUE;
    if (!IsOnePart(name))
        return Refused(ERROR_INVALID_NAME);
    DWORD error = ListInFolder(parent, name, &listed, &tag);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return ENTRY_MISSING;
    }
    if (error != ERROR_SUCCESS)
        return Refused(error);
    if (ListedAsLink(listed, tag))
        return Refused(ERROR_CANT_RESOLVE_FILENAME);
    if (how == OPEN_FOLDER && (listed & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Refused(ERROR_DIRECTORY);

    HANDLE handle = OpenInFolder(parent, name, how, access | FILE_READ_ATTRIBUTES, share);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ENTRY_MISSING;
        return Refused(error);
    }
    error = JudgeOpenPart(folder, handle, how == OPEN_FOLDER, attributes, place, placeKnown);
    if (error != ERROR_SUCCESS) {
        CloseHandle(handle);
        return Refused(error);
    }
    *opened = handle;
    return ENTRY_OPEN;
}

void ReleaseFolder(HeldFolder *folder)
{
    while (folder->count > 0)
        CloseHandle(folder->handles[--folder->count]);
}

/* A part's entry in its folder's listing on Windows 9x, by its path. */
static EntryFound ListPart(const char *path, DWORD *attributes)
{
    WIN32_FIND_DATAA found;
    HANDLE listing = strpbrk(path, "*?<>\"") == NULL ? FindFirstFileA(path, &found) : INVALID_HANDLE_VALUE;
    if (listing == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ENTRY_MISSING;
        return Refused(ERROR_INVALID_NAME);
    }
    FindClose(listing);
    *attributes = found.dwFileAttributes;
    return ENTRY_OPEN;
}

/* The drive's root, opened by its path: the walk starts there. */
static bool HoldRoot(const char *path, size_t rootLength, HeldFolder *folder)
{
    char root[PATH_BUFFER];
    memcpy(root, path, rootLength);
    root[rootLength] = '\0';
    HANDLE handle = CreateFileA(root, HOLD_ACCESS, HOLD_SHARE, NULL, OPEN_EXISTING, OPEN_BY_PATH_FLAGS, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    folder->handles[folder->count++] = handle;
    folder->placeKnown = FinalPath(handle, folder->realPlace, sizeof folder->realPlace);
    return true;
}

bool HoldFolder(const char *path, HeldFolder *folder)
{
    folder->count = 0;
    folder->placeKnown = false;
    DWORD length = GetFullPathNameA(path, sizeof folder->path, folder->path, NULL);
    size_t root = length > 0 && length < sizeof folder->path ? RootLength(folder->path) : 0;
    if (root == 0)
        return false;
    if (length > root && folder->path[length - 1] == '\\')
        folder->path[--length] = '\0';
    bool win9x = IsWindows9x();
    if (!win9x && !HoldRoot(folder->path, root, folder))
        return false;

    char part[PATH_BUFFER], place[PATH_BUFFER + 16];
    for (size_t start = root, end; start < length; start = end + 1) {
        end = start;
        while (end < length && folder->path[end] != '\\')
            end++;
        DWORD attributes = 0;
        EntryFound found;
        if (win9x) {
            memcpy(part, folder->path, end);
            part[end] = '\0';
            found = ListPart(part, &attributes);
            if (found == ENTRY_OPEN && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                found = ENTRY_REFUSED;
        } else {
            HANDLE handle;
            bool placeKnown;
            memcpy(part, folder->path + start, end - start);
            part[end - start] = '\0';
            found = folder->count < MAX_HELD_FOLDERS ? OpenPart(folder, part, OPEN_FOLDER, HOLD_ACCESS, HOLD_SHARE,
                                                                &handle, &attributes, place, &placeKnown)
                                                     : ENTRY_REFUSED;
            if (found == ENTRY_OPEN) {
                folder->handles[folder->count++] = handle;
                folder->placeKnown = placeKnown;
                if (placeKnown)
                    strcpy(folder->realPlace, place);
            }
        }
        /* A missing folder on the way is refused like any other: only the
           last part of a path may be a name yet to be created. */
        if (found != ENTRY_OPEN) {
            ReleaseFolder(folder);
            return false;
        }
    }
    return true;
}

/* The path of name in the folder, as Windows 9x names it. */
static bool EntryPath(const HeldFolder *folder, const char *name, HeldEntry *entry)
{
    if (strlen(folder->path) + 1 + strlen(name) >= sizeof entry->path)
        return false;
    strcpy(entry->path, folder->path);
    strcat(entry->path, "\\");
    strcat(entry->path, name);
    return true;
}

/*
 * On Windows 9x the entry is checked by its listing and opened by its
 * path, and only when it is a file to be read. On NT a file that is read
 * is read as any program reads it, so that a cloud file's data is
 * fetched, through a second handle that must be open on the very file
 * judged.
 */
EntryFound OpenEntry(const HeldFolder *folder, const char *name, DWORD access, DWORD share, HeldEntry *entry)
{
    char place[PATH_BUFFER + 16];
    bool placeKnown;
    entry->handle = entry->reader = INVALID_HANDLE_VALUE;
    if (!IsOnePart(name) || !EntryPath(folder, name, entry))
        return Refused(ERROR_INVALID_NAME);
    bool reads = (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
    if (IsWindows9x()) {
        EntryFound found = ListPart(entry->path, &entry->attributes);
        if (found != ENTRY_OPEN || !reads || (entry->attributes & FILE_ATTRIBUTE_DIRECTORY))
            return found;
        entry->handle = entry->reader = CreateFileA(entry->path, GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
        return entry->handle != INVALID_HANDLE_VALUE ? ENTRY_OPEN : ENTRY_REFUSED;
    }
    EntryFound found = OpenPart(folder, name, OPEN_ENTRY, access, share, &entry->handle, &entry->attributes, place,
                                &placeKnown);
    entry->reader = entry->handle;
    if (found == ENTRY_OPEN && reads && (entry->attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        entry->reader = OpenInFolder(folder->handles[folder->count - 1], name, OPEN_TO_READ,
                                     FILE_READ_DATA | FILE_READ_ATTRIBUTES, SHARE_ALL);
        if (entry->reader == INVALID_HANDLE_VALUE || !SameFile(entry->reader, entry->handle)) {
            CloseEntry(entry);
            return Refused(ERROR_CANT_RESOLVE_FILENAME);
        }
    }
    return found;
}

/*
 * A new file made in the folder where a link cannot stand at its name: a
 * name that exists, whatever it is, is never opened, written through or
 * truncated. Should the file come out anywhere but in the held folder (a
 * junction set on the folder in a moment it stood empty), it is removed
 * again through its own handle.
 */
bool CreateEntry(const HeldFolder *folder, const char *name, HeldEntry *entry)
{
    char place[PATH_BUFFER + 16];
    bool placeKnown;
    entry->handle = entry->reader = INVALID_HANDLE_VALUE;
    if (!IsOnePart(name) || !EntryPath(folder, name, entry))
        return false;
    if (IsWindows9x())
        entry->handle = CreateFileA(entry->path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    else
        entry->handle = OpenInFolder(folder->handles[folder->count - 1], name, CREATE_FILE,
                                     GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ);
    entry->reader = entry->handle;
    if (entry->handle == INVALID_HANDLE_VALUE)
        return false;
    if (!IsWindows9x() && JudgeOpenPart(folder, entry->handle, false, &entry->attributes, place, &placeKnown) != 0) {
        MarkForRemoval(entry->handle);
        CloseEntry(entry);
        return false;
    }
    return true;
}

bool RenameEntry(HeldEntry *entry, const HeldFolder *folder, const char *name, bool replace)
{
    if (!IsWindows9x())
        return RenameInFolder(entry->handle, folder->handles[folder->count - 1], name, replace);
    HeldEntry target;
    if (!EntryPath(folder, name, &target))
        return false;
    CloseEntry(entry);
    return MoveFileA(entry->path, target.path) != FALSE;
}

bool RemoveEntry(HeldEntry *entry)
{
    if (IsWindows9x()) {
        CloseEntry(entry);
        return DeleteFileA(entry->path) != FALSE;
    }
    if (!MarkForRemoval(entry->handle))
        return false;
    CloseEntry(entry);
    return true;
}

void CloseEntry(HeldEntry *entry)
{
    if (entry->reader != entry->handle && entry->reader != INVALID_HANDLE_VALUE)
        CloseHandle(entry->reader);
    if (entry->handle != INVALID_HANDLE_VALUE)
        CloseHandle(entry->handle);
    entry->handle = entry->reader = INVALID_HANDLE_VALUE;
}
