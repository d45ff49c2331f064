// A scenario of the real updater in the test prefix, shared by the end-to-end tests, the
// demo and the benchmarks: a fake installation of the product, the real Seekwell.exe
// started in it, programs named like the watched mail clients, and screenshots.
#pragma once

#include <windows.h>

#include <string>

#include "SettingsTable.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "TestSettings.h"
#include "UiDriver.h"
#include "UpdateHost.h"
#include "resource.h"

namespace e2e
{
using testfiles::BuildDirectory;
using testfiles::CopyInto;
using testfiles::FileExists;
using testfiles::FilesIn;
using testfiles::MakeFolders;
using testfiles::ReadFileBytes;
using testsettings::ClearSettings;
using testsettings::SetText;

// The product installed in a folder of the prefix: Seekwell.exe, Quorvel.dll and the
// language modules, with the settings keys pointing at it.
class Installation
{
  public:
    explicit Installation(std::string directory = "C:\\Program Files\\Quorvel\\");

    const std::string& Directory() const { return m_directory; }

    // Copies a language module of the build (any fixture folder) under a language name.
    void InstallLanguage(const std::string& builtLanguage, const std::string& asLanguage) const;
    void RemoveLanguage(const std::string& language) const;

    // Replaces the product module with a built variant (a path relative to the build).
    void UseProductModule(const std::string& builtPath) const;
    void RemoveProductModule() const;

    // Both settings keys pointing at this installation with `language`.
    void Register(const std::string& language = "English") const;

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
               const std::string& directory = std::string());

    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    bool Running() const;
    // Exit code after waiting, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs) const { return ui::WaitForExit(m_info.hProcess, timeoutMs); }
    void Kill();

  private:
    PROCESS_INFORMATION m_info{};
};

// A stand-in for a watched program: the build's sleeper (standin::StandInSource) copied
// to `path` and started.
// Construction returns once the new process shows its image path to other processes,
// so a count made right after it sees the program.
class FakeProgram : public Process
{
  public:
    explicit FakeProgram(const std::string& path);
};

// The updater started from an installation, with its main dialog found.
class Updater : public Process
{
  public:
    // Starts Seekwell.exe and waits for its dialog. Without a language module the
    // caption is empty, so the dialog is found by process, not by caption.
    bool Launch(const Installation& installation);

    HWND Dialog() const { return m_dialog; }

    // The message box or other modal window the updater shows over its dialog.
    HWND WaitForModal(DWORD timeoutMs = 20000) const { return ui::WaitForOwnedDialog(m_dialog, timeoutMs); }

  private:
    HWND m_dialog = nullptr;
};

// Saves a screenshot of a window into the run's artifacts folder as NAME.bmp; the
// runner turns them into PNG files.
void Screenshot(HWND window, const std::string& name);
} // namespace e2e
