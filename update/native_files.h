/*
 * Windows NT's own file calls, relative to a folder the program holds
 * open: each name given is one part, looked up in that folder alone, so
 * that no path is looked up again from the drive's root. They are looked
 * up in ntdll when first used, not imported; Windows 95, 98 and ME have
 * none of them. Each sets the last error as the Win32 calls do.
 */
#ifndef NATIVE_FILES_H
#define NATIVE_FILES_H

#include <windows.h>

enum NativeOpen {
    OPEN_FOLDER,  /* an existing folder, a link not followed */
    OPEN_ENTRY,   /* an existing file or folder, a link not followed */
    OPEN_TO_READ, /* an existing file as any program opens it, so that a
                     cloud file's data is fetched */
    CREATE_FILE   /* a new file: any name that exists, a link included, is
                     refused */
};

/* True where the calls exist (Windows NT). */
bool NativeFilesAvailable(void);

/* Opens name in folder; an empty name opens folder itself again, as a
   new handle. INVALID_HANDLE_VALUE when it fails. */
HANDLE OpenInFolder(HANDLE folder, const char *name, NativeOpen how, DWORD access, DWORD share);

/* The attributes and reparse tag that folder's listing gives for name
   (looked for through a handle of its own, as a listing remembers the
   first name it was asked for); ERROR_SUCCESS, ERROR_FILE_NOT_FOUND or
   another error. */
DWORD ListInFolder(HANDLE folder, const char *name, DWORD *attributes, DWORD *tag);

/* Gives the open file or folder the name in folder, replacing a file of
   that name when replace is true. */
bool RenameInFolder(HANDLE file, HANDLE folder, const char *name, bool replace);

/* Marks the open file to be removed when its last handle closes. */
bool MarkForRemoval(HANDLE file);

#endif
