#include "Scenario.h"

#include <utility>

#include "StandInPrograms.h"

namespace e2e
{
Installation::Installation(std::string directory) : m_directory(std::move(directory))
{
    MakeFolders(m_directory.substr(0, m_directory.size() - 1));
    const std::string build = BuildDirectory();
    CopyInto(build + "Seekwell.exe", m_directory + "Seekwell.exe");
    CopyInto(build + "Quorvel.dll", m_directory + "Quorvel.dll");
    for (const char* language : {"English", "German"})
        InstallLanguage(language, language);
}

void Installation::InstallLanguage(const std::string& builtLanguage, const std::string& asLanguage) const
{
    CopyInto(BuildDirectory() + "Languages\\" + builtLanguage + "\\Res.dll",
             m_directory + "Languages\\" + asLanguage + "\\Res.dll");
}

void Installation::RemoveLanguage(const std::string& language) const
{
    DeleteFileA((m_directory + "Languages\\" + language + "\\Res.dll").c_str());
}

void Installation::UseProductModule(const std::string& builtPath) const
{
    CopyInto(BuildDirectory() + builtPath, m_directory + "Quorvel.dll");
}

void Installation::RemoveProductModule() const
{
    DeleteFileA((m_directory + "Quorvel.dll").c_str());
}

void Installation::Register(const std::string& language) const
{
    ClearSettings();
    SetText(HKEY_LOCAL_MACHINE, "AppPath", m_directory);
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", language);
    SetText(HKEY_CURRENT_USER, "AppPath", m_directory);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", language);
}

bool Process::Start(const std::string& path, const std::string& arguments, const std::string& directory)
{
    std::string commandLine = "\"" + path + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    return standin::StartProcess(path, commandLine, directory, m_info);
}

bool Process::Running() const
{
    return m_info.hProcess != nullptr && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

void Process::Kill()
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

FakeProgram::FakeProgram(const std::string& path)
{
    CopyInto(standin::StandInSource(), path);
    if (!Start(path, "600"))
        return;
    ui::WaitUntil([&] { return !standin::ExecutablePathOf(Id()).empty(); }, 10000);
}

bool Updater::Launch(const Installation& installation)
{
    if (!Start(installation.Directory() + "Seekwell.exe", std::string(), installation.Directory()))
        return false;
    m_dialog = ui::WaitForDialog(Id(), nullptr, 20000);
    return m_dialog != nullptr;
}

void Screenshot(HWND window, const std::string& name)
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
