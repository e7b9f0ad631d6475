#ifndef UPDATE_PROCEDURE_H
#define UPDATE_PROCEDURE_H

#include <windows.h>
#include <stddef.h>

void OnInstallCommand(void);
DWORD WINAPI InstallThreadProc(LPVOID parameter);
bool IsInstallRunning(void);
void RemoveLeftoverReplacements(void);
bool WriteWholeFile(const char *path, const char *data, size_t length);

#endif
