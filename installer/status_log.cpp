#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "status_log.h"
#include "installer_dialog.h"
#include "../resources/resource.h"

/* The whole progress record of a run: one NUL-terminated CP1250 text,
   shown in the log box. Written by the main thread, and while an update
   runs by its worker alone. */
char *g_statusText = NULL;

/*
 * Takes the log buffer from the heap, empty. Returns 0, or -1 when no
 * memory could be had; the log then stays absent and appends do nothing.
 */
int CreateStatus(void)
{
    g_statusText = (char *)malloc(STATUS_CAPACITY);
    if (g_statusText == NULL)
        return -1;
    g_statusText[0] = '\0';
    return 0;
}

/*
 * Adds as much of text as still fits. A text that does not fit whole is cut
 * short, so the buffer never overflows and everything that did fit is
 * still shown. Returns the number of characters added.
 */
static size_t AppendFitting(const char *text)
{
    size_t used = strlen(g_statusText);
    size_t room = STATUS_CAPACITY - 1 - used;
    size_t length = strlen(text);

    if (length > room)
        length = room;
    memcpy(g_statusText + used, text, length);
    g_statusText[used + length] = '\0';
    return length;
}

/*
 * Appends text to the log, or a line break when text is null, and shows
 * the whole log in the box again. Always returns 0.
 */
int AppendStatus(const char *text)
{
    if (g_statusText == NULL)
        return 0;
    size_t added = 0;
    if (text == NULL) {
        added = AppendFitting("\r");
        text = "\n";
    }
    added += AppendFitting(text);
    /* A full log shows the same text already; refilling the box with it
       only costs time. */
    if (added > 0)
        SetDlgItemTextA(g_hDlg, IDC_STATUS, g_statusText);
    return 0;
}

/* Releases the log; harmless when it is already gone. Always returns 0. */
int FreeStatus(void)
{
    free(g_statusText);
    g_statusText = NULL;
    return 0;
}
