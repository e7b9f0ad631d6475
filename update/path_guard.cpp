#include <windows.h>
#include <string.h>

#include "path_guard.h"
#include "windows_version.h"

/* The bit that marks a reparse tag as naming another place (Windows'
   IsReparseTagNameSurrogate). */
#define NAME_SURROGATE_TAG_BIT 0x20000000

/* Where the folder before the part being checked really is, when Windows
   tells it. */
struct RealPlace {
    char path[PATH_BUFFER + 16];
    bool known;
};

enum PartFound { PART_MISSING, PART_REFUSED, PART_OPEN };

void ReleaseFolders(HeldFolders *held)
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
    if (getFinalPath == NULL || handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD length = getFinalPath(handle, out, size, 0);
    return length > 0 && length < size;
}

/* True when the real place of a part (childFinal) lies directly inside
   the real place of the folder before it. */
static bool IsDirectlyInside(const char *childFinal, const RealPlace *parent)
{
    const char *lastSeparator = strrchr(childFinal, '\\');
    if (lastSeparator == NULL)
        return false;
    size_t childParent = (size_t)(lastSeparator - childFinal);
    size_t length = strlen(parent->path);
    if (length > 0 && parent->path[length - 1] == '\\')
        length--;
    return childParent == length &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, childFinal, (int)childParent, parent->path,
                          (int)length) == CSTR_EQUAL;
}

bool ListedAsLink(DWORD attributes, DWORD tag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || (tag & NAME_SURROGATE_TAG_BIT) != 0);
}

/*
 * A part's entry in its folder's listing: its attributes and, for a
 * reparse point, its tag. The tag is cleared first, as Wine gives none and
 * leaves whatever the buffer held. A name with wildcards would list
 * another entry, so it cannot be looked at.
 */
static DWORD ListPart(const char *part, WIN32_FIND_DATAA *found)
{
    found->dwReserved0 = 0;
    if (strpbrk(part, "*?<>\"") != NULL)
        return ERROR_INVALID_NAME;
    HANDLE listing = FindFirstFileA(part, found);
    if (listing == INVALID_HANDLE_VALUE)
        return GetLastError();
    FindClose(listing);
    return ERROR_SUCCESS;
}

/* The real place of a path's root, where Windows tells it. */
static void FindRootsPlace(const char *path, size_t root, RealPlace *place)
{
    char rootPath[PATH_BUFFER];
    place->known = false;
    if (root == 0 || IsWindows9x())
        return;
    memcpy(rootPath, path, root);
    rootPath[root] = '\0';
    HANDLE folder = CreateFileA(rootPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    place->known = FinalPath(folder, place->path, sizeof place->path);
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
}

/*
 * A part's attributes and reparse tag, asked of its open handle. Windows
 * Vista and later give both in one answer; 2000 and XP give the tag with
 * the reparse point's data, and a tag that cannot be read stays 0 (a
 * link). NT 4.0 has no reparse points.
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

/*
 * Opens a part on Windows NT as itself, a link not followed (Windows 2000
 * and later; NT 4.0 has no links), and judges what is open: a link or, on
 * the way, anything but a folder is refused. A folder on the way is opened
 * to be listed, a right that sharing binds and that the check of the next
 * part needs anyway; as others may not delete it, no program can rename or
 * remove it while it is held (a hold that asks only for attributes would
 * hold nothing). The last part is opened only to be judged.
 */
static HANDLE OpenJudgedPart(const char *part, bool lastPart)
{
    DWORD access = lastPart ? FILE_READ_ATTRIBUTES : FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (IsWindows2000OrLater() ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = CreateFileA(part, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, flags, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    DWORD attributes, tag;
    if (!HandleAttributes(handle, &attributes, &tag) || ListedAsLink(attributes, tag) ||
        (!lastPart && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

/*
 * The last part opened again to be read as any program reads it, so that
 * a cloud file's data is fetched: refused unless it is the very file
 * judged, which a link swapped in meanwhile is not.
 */
static HANDLE ReopenToRead(const char *part, HANDLE judged, DWORD access)
{
    HANDLE handle = CreateFileA(part, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (handle != INVALID_HANDLE_VALUE && !SameFile(handle, judged)) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    CloseHandle(judged);
    return handle;
}

/*
 * Checks one part of a path, the parts before it checked already and the
 * real place of the one before it in parent, and opens it: a folder on the
 * way held (others may read and write in it, not rename or remove it),
 * the last part for access (or only judged, when access is 0). Windows 9x
 * opens no folder as a file and has no links: a folder there comes back
 * checked, not open. Refused: a link, by its listing or by what its handle
 * says, a folder on the way that is not a folder, a part that is not
 * inside the folder before it, or a part that cannot be looked at. On
 * success parent becomes this part's real place.
 */
static PartFound OpenPartFreeOfLinks(const char *part, bool lastPart, DWORD access, RealPlace *parent,
                                     HANDLE *opened)
{
    char partFinal[sizeof parent->path];
    WIN32_FIND_DATAA found;
    *opened = INVALID_HANDLE_VALUE;
    DWORD error = ListPart(part, &found);
    if (error != ERROR_SUCCESS)
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PART_MISSING : PART_REFUSED;
    if (ListedAsLink(found.dwFileAttributes, found.dwReserved0))
        return PART_REFUSED;
    bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!lastPart && !folder)
        return PART_REFUSED;

    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!IsWindows9x()) {
        handle = OpenJudgedPart(part, lastPart);
        if (handle != INVALID_HANDLE_VALUE && lastPart && access != 0)
            handle = ReopenToRead(part, handle, access);
        if (handle == INVALID_HANDLE_VALUE)
            return PART_REFUSED;
    } else if (!folder) {
        handle = CreateFileA(part, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (handle == INVALID_HANDLE_VALUE)
            return PART_REFUSED;
    }
    bool partKnown = FinalPath(handle, partFinal, sizeof partFinal);
    if (partKnown && parent->known && !IsDirectlyInside(partFinal, parent)) {
        CloseHandle(handle);
        return PART_REFUSED;
    }
    if (partKnown)
        strcpy(parent->path, partFinal);
    parent->known = partKnown;
    *opened = handle;
    return PART_OPEN;
}

bool HoldPathFreeOfLinks(const char *path, HeldFolders *held, DWORD lastAccess, HANDLE *last)
{
    char part[PATH_BUFFER];
    RealPlace parent;
    size_t length = strlen(path);
    size_t root = RootLength(path);

    held->count = 0;
    if (last != NULL)
        *last = INVALID_HANDLE_VALUE;
    if (length >= sizeof part)
        return false;
    FindRootsPlace(path, root, &parent);

    for (size_t end = root; end <= length; end++) {
        if (end < length && path[end] != '\\')
            continue;
        if (end == root || path[end - 1] == '\\')
            continue;  // an empty part, as after a trailing backslash
        bool lastPart = end == length;
        memcpy(part, path, end);
        part[end] = '\0';

        HANDLE handle;
        PartFound found = OpenPartFreeOfLinks(part, lastPart, lastAccess, &parent, &handle);
        if (found == PART_MISSING)
            return true;
        if (found == PART_REFUSED)
            break;
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
