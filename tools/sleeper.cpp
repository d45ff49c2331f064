// A stand-in for a running program: it does nothing but wait, until it is ended or the
// number of seconds given as its one argument has passed. Tests run copies of it under
// the image names of the programs the updater watches for.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    DWORD waitMs = INFINITE;
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(commandLine, &end, 10);
    if (end != commandLine)
        waitMs = static_cast<DWORD>(seconds) * 1000;
    Sleep(waitMs);
    return 0;
}
