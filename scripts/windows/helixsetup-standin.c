/* Stands in for the audiometry application's installer in the Windows lane: started by the connector
 * once 7-Zip has unpacked it, it writes the folder it was started in to "HelixSetup.started" there and
 * ends. Plain C without Qt, so the archive needs no DLLs beside it. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    char folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    FILE *marker = fopen("HelixSetup.started", "w");
    if (!marker || length == 0 || length >= sizeof folder)
        return 1;
    fputs(folder, marker);
    return fclose(marker) == 0 ? 0 : 1;
}
