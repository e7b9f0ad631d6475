/*
 * One run at a time on the PC. A player who double-clicks twice on a slow
 * PC gets two copies of the program on one game; each would otherwise
 * work on the same files at once, and one copy's clean-up could remove a
 * replacement that the other is about to put in place. A copy holds this
 * lock while it runs its steps or settles leftovers at start.
 */
#ifndef RUN_LOCK_H
#define RUN_LOCK_H

#include <windows.h>

enum RunLock {
    RUN_LOCK_BUSY,       /* another copy held it all the time given, or there is no lock */
    RUN_LOCK_TAKEN,
    RUN_LOCK_TAKEN_OVER  /* its holder ended without letting go: killed or closed mid-run */
};

/* Takes the lock for the calling thread, waiting at most waitMs for
   another copy to let go. */
RunLock TakeRunLock(DWORD waitMs);

/* Lets go of a lock taken by the calling thread. */
void ReleaseRunLock(void);

#endif
