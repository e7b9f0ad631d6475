#include <windows.h>

#include "run_lock.h"
#include "windows_version.h"

#define RUN_LOCK_NAME "ValtheriaIII-PL-Update1"

/* The lock, made by the first call (at start, on the main thread, before
   any worker exists) and kept until the process ends. */
static HANDLE g_runLock = NULL;

/*
 * Windows 2000 and later keep named objects apart for each signed-in
 * player unless the name is global; there one lock serves every session,
 * so two players signed in at once count as one PC. Windows 9x and NT 4.0
 * have one namespace, and take no backslash in a name.
 */
static const char *RunLockName(void)
{
    return IsWindows2000OrLater() ? "Global\\" RUN_LOCK_NAME : RUN_LOCK_NAME;
}

/*
 * A lock that cannot be made or opened (a name taken by another kind of
 * object, or a global lock that Windows does not let this player open) is
 * never passed by: without it no copy knows what another does.
 */
RunLock TakeRunLock(DWORD waitMs)
{
    if (g_runLock == NULL)
        g_runLock = CreateMutexA(NULL, FALSE, RunLockName());
    if (g_runLock == NULL)
        return RUN_LOCK_BUSY;
    switch (WaitForSingleObject(g_runLock, waitMs)) {
    case WAIT_OBJECT_0:
        return RUN_LOCK_TAKEN;
    case WAIT_ABANDONED:
        return RUN_LOCK_TAKEN_OVER;
    }
    return RUN_LOCK_BUSY;
}

void ReleaseRunLock(void)
{
    ReleaseMutex(g_runLock);
}
