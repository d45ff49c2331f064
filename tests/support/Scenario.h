// A scenario of the real updater in the test prefix, shared by the end-to-end tests and
// the demo: a fake installation of the product, the real Seekwell.exe started in it,
// programs named like the watched mail clients, and screenshots.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "SettingsTable.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "UiDriver.h"
#include "resource.h"

namespace e2e
{
using testfiles::FileExists;
using testfiles::FilesIn;
using testfiles::ReadFileBytes;

// Directory of the test executable (the build directory), with a trailing backslash.
inline std::string BuildDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

inline void MakeFolders(const std::string& path)
{
    testserver::MakeFolders(path);
}

inline bool CopyInto(const std::string& from, const std::string& to)
{
    MakeFolders(to.substr(0, to.find_last_of('\\')));
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

inline void SetSetting(HKEY root, const char* name, const std::string& text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, kSettingsSubkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

inline void ClearSettings()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsSubkey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsSubkey);
}

// The product installed in a folder of the prefix: Seekwell.exe, Quorvel.dll and the
// language modules, with the settings keys pointing at it.
class Installation
{
  public:
    explicit Installation(std::string directory = "C:\\Program Files\\Quorvel\\")
        : m_directory(std::move(directory))
    {
        MakeFolders(m_directory.substr(0, m_directory.size() - 1));
        const std::string build = BuildDirectory();
        CopyInto(build + "Seekwell.exe", m_directory + "Seekwell.exe");
        CopyInto(build + "Quorvel.dll", m_directory + "Quorvel.dll");
        for (const char* language : {"English", "German"})
            InstallLanguage(language, language);
    }

    const std::string& Directory() const { return m_directory; }

    // Copies a language module of the build (any fixture folder) under a language name.
    void InstallLanguage(const std::string& builtLanguage, const std::string& asLanguage) const
    {
        CopyInto(BuildDirectory() + "Languages\\" + builtLanguage + "\\Res.dll",
                 m_directory + "Languages\\" + asLanguage + "\\Res.dll");
    }

    void RemoveLanguage(const std::string& language) const
    {
        DeleteFileA((m_directory + "Languages\\" + language + "\\Res.dll").c_str());
    }

    // Replaces the product module with a built variant (a path relative to the build).
    void UseProductModule(const std::string& builtPath) const
    {
        CopyInto(BuildDirectory() + builtPath, m_directory + "Quorvel.dll");
    }

    void RemoveProductModule() const { DeleteFileA((m_directory + "Quorvel.dll").c_str()); }

    // Both settings keys pointing at this installation with `language`.
    void Register(const std::string& language = "English") const
    {
        ClearSettings();
        SetSetting(HKEY_LOCAL_MACHINE, "AppPath", m_directory);
        SetSetting(HKEY_LOCAL_MACHINE, "CurrLanguage", language);
        SetSetting(HKEY_CURRENT_USER, "AppPath", m_directory);
        SetSetting(HKEY_CURRENT_USER, "CurrLanguage", language);
    }

  private:
    std::string m_directory;
};

// A running program; ended when the object goes.
class Process
{
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { Kill(); }

    bool Start(const std::string& path, const std::string& arguments = std::string(),
               const std::string& directory = std::string())
    {
        std::string commandLine = "\"" + path + "\"";
        if (!arguments.empty())
            commandLine += " " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
        mutableLine.push_back('\0');
        return CreateProcessA(path.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              directory.empty() ? nullptr : directory.c_str(), &startup, &m_info) != FALSE;
    }

    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    bool Running() const
    {
        return m_info.hProcess != nullptr && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
    }
    // Exit code after waiting, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs) const { return ui::WaitForExit(m_info.hProcess, timeoutMs); }

    void Kill()
    {
        if (m_info.hProcess == nullptr)
            return;
        if (Running())
        {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
        m_info = PROCESS_INFORMATION{};
    }

  private:
    PROCESS_INFORMATION m_info{};
};

// A stand-in for a watched program: the build's sleeper copied to `path` and started.
// Construction returns once the new process shows its image path to other processes,
// so a count made right after it sees the program.
class FakeProgram : public Process
{
  public:
    explicit FakeProgram(const std::string& path)
    {
        CopyInto(BuildDirectory() + "sleeper.exe", path);
        if (!Start(path, "600"))
            return;
        ui::WaitUntil(
            [&]
            {
                char image[MAX_PATH] = {};
                return GetModuleFileNameExA(Handle(), nullptr, image, sizeof image) > 0;
            },
            10000);
    }
};

// The updater started from an installation, with its main dialog found.
class Updater : public Process
{
  public:
    // Starts Seekwell.exe and waits for its dialog. Without a language module the
    // caption is empty, so the dialog is found by process, not by caption.
    bool Launch(const Installation& installation)
    {
        if (!Start(installation.Directory() + "Seekwell.exe", std::string(), installation.Directory()))
            return false;
        m_dialog = ui::WaitForDialog(Id(), nullptr, 20000);
        return m_dialog != nullptr;
    }

    HWND Dialog() const { return m_dialog; }

    // The message box or other modal window the updater shows over its dialog.
    HWND WaitForModal(DWORD timeoutMs = 20000) const { return ui::WaitForOwnedDialog(m_dialog, timeoutMs); }

  private:
    HWND m_dialog = nullptr;
};

// Saves a screenshot of a window into the run's artifacts folder as NAME.bmp; the
// runner turns them into PNG files.
inline void Screenshot(HWND window, const std::string& name)
{
    const std::string folder = testserver::Env("SEEKWELL_TEST_ARTIFACTS");
    if (folder.empty() || window == nullptr)
        return;
    // Give the window a moment to paint what it was just told.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(150);
    ui::SaveScreenshot(window, folder + "\\" + name + ".bmp");
}

} // namespace e2e
