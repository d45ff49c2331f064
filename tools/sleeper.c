/* A stand-in for a running program: it does nothing but wait, until it is ended or the
   number of seconds given as its one argument has passed. Tests run copies of it under
   the image names of the programs the updater watches for. Plain C, so that the 64-bit
   copy (sleeper64.exe, for the tests in a 64-bit prefix) needs only the C compiler. */
#include <windows.h>

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    DWORD waitMs = INFINITE;
    char* end = NULL;
    const unsigned long seconds = strtoul(commandLine, &end, 10);
    (void)instance;
    (void)previous;
    (void)show;
    if (end != commandLine)
        waitMs = (DWORD)seconds * 1000;
    Sleep(waitMs);
    return 0;
}
