#ifndef STATUS_LOG_H
#define STATUS_LOG_H

/* Bytes in the log buffer, terminating NUL included. */
#define STATUS_CAPACITY 4096

extern char *g_statusText;

int CreateStatus(void);
int AppendStatus(const char *text);
int FreeStatus(void);

#endif
