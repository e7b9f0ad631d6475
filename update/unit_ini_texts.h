#ifndef UNIT_INI_TEXTS_H
#define UNIT_INI_TEXTS_H

/* The corrected unit INI files, CP1250 with CR LF lines, no NUL written. */
#define SETTLER_INI_LENGTH 1663
#define WORKER_INI_LENGTH 2161

extern const char SETTLER_INI_TEXT[];
extern const char WORKER_INI_TEXT[];

#endif
