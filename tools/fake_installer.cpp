// A stand-in update package: it records that it ran (its own path, its command line and
// its working directory) in "<its path>.ran.txt", then exits. Like many a real installer
// it loads a library by name that it does not ship (SEEKWELL_STANDIN_LIBRARY); where it
// came from, if anywhere, is recorded too. The demo and the tests serve it as the package
// the updater downloads and hands to the shell.
#include <windows.h>

#include <string>

namespace
{
std::string LibraryRecord()
{
    HMODULE library = LoadLibraryA(SEEKWELL_STANDIN_LIBRARY);
    if (library == nullptr)
        return "none";
    char path[MAX_PATH] = {};
    GetModuleFileNameA(library, path, sizeof path);
    return path;
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    char directory[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof directory, directory);
    const std::string record = std::string("path=") + self + "\r\ncommand=" + GetCommandLineA() +
                               "\r\ndirectory=" + directory + "\r\nlibrary=" + LibraryRecord() + "\r\n";
    const std::string recordPath = std::string(self) + ".ran.txt";
    HANDLE file = CreateFileA(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 1;
}
