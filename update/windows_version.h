/*
 * Which kind of Windows this is, as Windows says of itself (GetVersion),
 * never guessed from a call that fails: Windows 95, 98 and ME export some
 * NT functions as stubs that fail.
 */
#ifndef WINDOWS_VERSION_H
#define WINDOWS_VERSION_H

/* Windows 95, 98 or ME: no MoveFileEx, no reparse points, no folder
   opened as a file; a file is deleted even while others have it open. */
bool IsWindows9x(void);

/* Windows 2000 or later: named objects are kept apart for each signed-in
   player unless their names are global, and a file or folder may be a
   reparse point (a link among them), which CreateFile can open itself
   instead of what it names. */
bool IsWindows2000OrLater(void);

#endif
