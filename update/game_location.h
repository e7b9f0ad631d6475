#ifndef GAME_LOCATION_H
#define GAME_LOCATION_H

/* Length of the settler unit INI file as the game installs it. Any other
   length means the update has already been applied. */
#define PRISTINE_SETTLER_INI_SIZE 1654

#define SETTLER_INI_SUFFIX "\\art\\units\\Osadnik Era Przemysłowa\\Osadnik Era Przemysłowa.ini"

extern char g_registryPath[256];
extern char g_gameDir[256];

int ReadInstallPath(char *dest);
long ProbeFileLength(const char *path);
int RunStartupChecks(void);

#endif
