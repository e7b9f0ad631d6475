#ifndef UPDATE_PROCEDURE_H
#define UPDATE_PROCEDURE_H

#include <windows.h>

void OnInstallCommand(void);
DWORD WINAPI InstallThreadProc(LPVOID parameter);
bool IsInstallRunning(void);
void SettleLeftoversUnlessAnotherCopyRuns(void);

#endif
