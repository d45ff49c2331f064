// A stand-in update package: it records that it ran (its own path, its command line and
// its working directory) in "<its path>.ran.txt", then exits. The demo and the tests
// serve it as the package the updater downloads and hands to the shell.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    char directory[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof directory, directory);
    const std::string record = std::string("path=") + self + "\r\ncommand=" + GetCommandLineA() +
                               "\r\ndirectory=" + directory + "\r\n";
    const std::string recordPath = std::string(self) + ".ran.txt";
    HANDLE file = CreateFileA(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 1;
}
