#include <windows.h>

#include "windows_version.h"

bool IsWindows9x(void)
{
    return (GetVersion() & 0x80000000) != 0;
}

bool IsWindows2000OrLater(void)
{
    return !IsWindows9x() && LOBYTE(LOWORD(GetVersion())) >= 5;
}
