#include <windows.h>
#include <winternl.h>

#include "native_files.h"
#include "windows_version.h"

#define FILE_FULL_DIRECTORY_INFORMATION_CLASS 2
#define FILE_RENAME_INFORMATION_CLASS 10
#define FILE_DISPOSITION_INFORMATION_CLASS 13

/* Longest one part of a path, in UTF-16 units, with room to spare. */
#define LONGEST_NAME 300

typedef NTSTATUS(NTAPI *CreateFileFunction)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                            ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI *QueryDirectoryFunction)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG,
                                                BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI *SetInformationFunction)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef ULONG(NTAPI *StatusToErrorFunction)(NTSTATUS);

static CreateFileFunction g_createFile;
static QueryDirectoryFunction g_queryDirectory;
static SetInformationFunction g_setInformation;
static StatusToErrorFunction g_statusToError;

/* One entry of a folder's listing, as the file system gives it: for a
   reparse point, the field after the name's length holds its tag. */
struct ListedEntry {
    ULONG nextEntryOffset, fileIndex;
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime, endOfFile, allocationSize;
    ULONG fileAttributes, fileNameLength, reparseTag;
    WCHAR fileName[LONGEST_NAME];
};

bool NativeFilesAvailable(void)
{
    if (g_statusToError == NULL && !IsWindows9x()) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        g_createFile = (CreateFileFunction)(void *)GetProcAddress(ntdll, "NtCreateFile");
        g_queryDirectory = (QueryDirectoryFunction)(void *)GetProcAddress(ntdll, "NtQueryDirectoryFile");
        g_setInformation = (SetInformationFunction)(void *)GetProcAddress(ntdll, "NtSetInformationFile");
        if (g_createFile != NULL && g_queryDirectory != NULL && g_setInformation != NULL)
            g_statusToError = (StatusToErrorFunction)(void *)GetProcAddress(ntdll, "RtlNtStatusToDosError");
    }
    if (g_statusToError == NULL)
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return g_statusToError != NULL;
}

/* True when the call succeeded; otherwise its error is the last error. */
static bool Succeeded(NTSTATUS status)
{
    if (status >= 0)
        return true;
    SetLastError(g_statusToError(status));
    return false;
}

/* A name in the ANSI code page as Windows NT's calls take it; false for
   a name that cannot be one part. */
static bool WideName(const char *name, WCHAR *wide, UNICODE_STRING *unicode)
{
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, LONGEST_NAME);
    if (length <= 0) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    unicode->Buffer = wide;
    unicode->Length = unicode->MaximumLength = (USHORT)((length - 1) * sizeof(WCHAR));
    return true;
}

/*
 * Every open asks only to identify the program to whatever serves the
 * name: a name that leads to a named pipe cannot lend the program its
 * rights.
 */
HANDLE OpenInFolder(HANDLE folder, const char *name, NativeOpen how, DWORD access, DWORD share)
{
    WCHAR wide[LONGEST_NAME];
    UNICODE_STRING unicode;
    if (!NativeFilesAvailable() || !WideName(name, wide, &unicode))
        return INVALID_HANDLE_VALUE;
    SECURITY_QUALITY_OF_SERVICE quality = { sizeof quality, SecurityIdentification, SECURITY_STATIC_TRACKING, FALSE };
    OBJECT_ATTRIBUTES attributes = { sizeof attributes, folder, &unicode, OBJ_CASE_INSENSITIVE, NULL, &quality };
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT;
    if (how != OPEN_TO_READ && IsWindows2000OrLater())
        options |= FILE_OPEN_REPARSE_POINT;
    if (how == OPEN_FOLDER)
        options |= FILE_DIRECTORY_FILE;
    if (how == OPEN_TO_READ || how == CREATE_FILE)
        options |= FILE_NON_DIRECTORY_FILE;
    IO_STATUS_BLOCK io;
    HANDLE handle = INVALID_HANDLE_VALUE;
    NTSTATUS status = g_createFile(&handle, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, share,
                                   how == CREATE_FILE ? FILE_CREATE : FILE_OPEN, options, NULL, 0);
    return Succeeded(status) ? handle : INVALID_HANDLE_VALUE;
}

DWORD ListInFolder(HANDLE folder, const char *name, DWORD *attributes, DWORD *tag)
{
    WCHAR wide[LONGEST_NAME];
    UNICODE_STRING unicode;
    ListedEntry entry;
    IO_STATUS_BLOCK io;
    HANDLE listing = OpenInFolder(folder, "", OPEN_FOLDER, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (listing == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD error = ERROR_SUCCESS;
    if (!WideName(name, wide, &unicode) ||
        !Succeeded(g_queryDirectory(listing, NULL, NULL, NULL, &io, &entry, sizeof entry,
                                    FILE_FULL_DIRECTORY_INFORMATION_CLASS, TRUE, &unicode, TRUE)))
        error = GetLastError();
    CloseHandle(listing);
    if (error == ERROR_NO_MORE_FILES)
        error = ERROR_FILE_NOT_FOUND;
    *attributes = error == ERROR_SUCCESS ? entry.fileAttributes : 0;
    *tag = *attributes & FILE_ATTRIBUTE_REPARSE_POINT ? entry.reparseTag : 0;
    return error;
}

bool RenameInFolder(HANDLE file, HANDLE folder, const char *name, bool replace)
{
    struct {
        BOOLEAN replaceIfExists;
        HANDLE rootDirectory;
        ULONG fileNameLength;
        WCHAR fileName[LONGEST_NAME];
    } rename;
    UNICODE_STRING unicode;
    IO_STATUS_BLOCK io;
    if (!NativeFilesAvailable() || !WideName(name, rename.fileName, &unicode))
        return false;
    rename.replaceIfExists = replace;
    rename.rootDirectory = folder;
    rename.fileNameLength = unicode.Length;
    return Succeeded(g_setInformation(file, &io, &rename, sizeof rename, FILE_RENAME_INFORMATION_CLASS));
}

bool MarkForRemoval(HANDLE file)
{
    BOOLEAN removeFile = TRUE;
    IO_STATUS_BLOCK io;
    return NativeFilesAvailable() &&
           Succeeded(g_setInformation(file, &io, &removeFile, sizeof removeFile, FILE_DISPOSITION_INFORMATION_CLASS));
}
