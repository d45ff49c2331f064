// The process counter against real running processes: copies of sleeper.exe started
// under the image names of the watched programs, on the NT family (Psapi.dll), on the
// Windows 9x family (Toolhelp, with Wine told to act as Windows 98 for a copy of this
// test executable) and in a double-byte code page.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "ProcessCounter.h"
#include "CodePage.h"
#include "StandInPrograms.h"
#include "TestFiles.h"
#include "TestServer.h"

using standin::RunningProgram;

namespace
{
// The family this run must see: 1 when a parent test started this copy in Windows 98
// mode, 2 otherwise.
DWORD ExpectedFamily()
{
    return testserver::Env("SEEKWELL_EXPECT_PLATFORM") == "1" ? kPlatformWindows9x : kPlatformNt;
}

int Count(const std::string& text)
{
    return CountRunningProcesses(text);
}

std::vector<RunningProgram> StartAll(const std::vector<std::string>& paths)
{
    std::vector<RunningProgram> programs;
    for (const std::string& path : paths)
        programs.emplace_back(path);
    return programs;
}

struct CountRow
{
    const char* name;
    std::vector<std::string> programs;
    std::string text;
    int ntCount;
    int windows9xCount;
};

const char* const kOfficeOutlook = "C:\\Program Files\\Microsoft Office\\Office10\\OUTLOOK.EXE";
const char* const kLowerCaseOutlook = "C:\\Seekwell Tests\\Lower\\outlook.exe";
const char* const kOutlookExpress = "C:\\Program Files\\Outlook Express\\msimn.exe";
const char* const kToolInOutlookFolder = "C:\\OUTLOOK.EXE-files\\tool.exe";
const char* const kManager = "C:\\Program Files\\Brannick\\Quorvel\\QuorvelMgr.exe";

// The 9x family searches Toolhelp's szExeFile, which Wine (like NT) fills with the base
// name only; the NT family searches the full path.
const std::vector<CountRow> kCountRows = {
    {"office outlook counted", {kOfficeOutlook}, "OUTLOOK.EXE", 1, 1},
    {"lower-case outlook.exe not counted", {kLowerCaseOutlook}, "OUTLOOK.EXE", 0, 0},
    {"two outlook express instances", {kOutlookExpress, kOutlookExpress}, "msimn.exe", 2, 2},
    {"text only in a directory name", {kToolInOutlookFolder}, "OUTLOOK.EXE", 1, 0},
    {"manager", {kManager}, "QuorvelMgr.exe", 1, 1},
    {"text from the first character of the path", {kOfficeOutlook}, "C:\\Program Files\\Microsoft", 1, 0},
    {"text runs past the end of the name", {kOutlookExpress}, "msimn.exe ", 0, 0},
    {"all at once, outlook text",
     {kOfficeOutlook, kLowerCaseOutlook, kToolInOutlookFolder, kOutlookExpress},
     "OUTLOOK.EXE",
     2,
     1},
};

void PrintTo(const CountRow& row, std::ostream* out)
{
    *out << row.name;
}

std::string RowName(const ::testing::TestParamInfo<CountRow>& row)
{
    std::string name;
    for (const char* c = row.param.name; *c != '\0'; ++c)
        name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

class ProcessCounter : public ::testing::TestWithParam<CountRow>
{
};
} // namespace

TEST(ProcessCounterFamily, IsTheOneThisRunExpects)
{
    EXPECT_EQ(ExpectedFamily(), GetPlatformId());
    if (!standin::InWow64Prefix())
        return;
    // In a 64-bit prefix this program runs under WoW64, as the updater does on 64-bit
    // Windows, and cannot read the modules of the 64-bit stand-ins: the rows below then
    // count programs that only their image path shows.
    BOOL wow64 = FALSE;
    EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    const RunningProgram outlook(kOfficeOutlook);
    ASSERT_TRUE(outlook.Started()) << outlook.Error();
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, outlook.Id());
    ASSERT_NE(nullptr, process);
    HMODULE module = nullptr;
    DWORD needed = 0;
    EXPECT_FALSE(EnumProcessModules(process, &module, sizeof module, &needed));
    CloseHandle(process);
    EXPECT_EQ(std::string(kOfficeOutlook), standin::ExecutablePathOf(outlook.Id()));
}

TEST_P(ProcessCounter, CountsRunningProgramsByImageName)
{
    const CountRow& row = GetParam();
    ASSERT_EQ(0, Count(row.text)) << "a program from an earlier test still runs";
    {
        const std::vector<RunningProgram> programs = StartAll(row.programs);
        for (const RunningProgram& program : programs)
            ASSERT_TRUE(program.Started()) << program.Error();
        const int expected = GetPlatformId() == kPlatformWindows9x ? row.windows9xCount : row.ntCount;
        EXPECT_EQ(expected, Count(row.text));
    }
    EXPECT_EQ(0, Count(row.text)) << "ended programs still counted";
}

INSTANTIATE_TEST_SUITE_P(Rows, ProcessCounter, ::testing::ValuesIn(kCountRows), RowName);

TEST(ProcessCounterEmptyText, CountsEveryProcessWhoseNameCanBeRead)
{
    const int before = Count("");
    // At least this test itself and the prefix's own services.
    EXPECT_GE(before, 2);
    const std::vector<RunningProgram> programs =
        StartAll({kOfficeOutlook, kLowerCaseOutlook, kOutlookExpress});
    EXPECT_EQ(before + 3, Count(""));
}

// The highest of 256 handles opened at once: new handles fill the lowest free slots of
// the handle table, so every handle left open below that mark pushes it up.
uintptr_t HandleHighWater()
{
    std::vector<HANDLE> probes;
    for (int i = 0; i < 256; ++i)
        probes.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    uintptr_t highest = 0;
    for (HANDLE probe : probes)
    {
        highest = std::max(highest, reinterpret_cast<uintptr_t>(probe));
        CloseHandle(probe);
    }
    return highest;
}

TEST(ProcessCounterHandles, EveryCountClosesWhatItOpened)
{
    const RunningProgram outlook(kOfficeOutlook);
    (void)Count("OUTLOOK.EXE");
    const uintptr_t before = HandleHighWater();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(1, Count("OUTLOOK.EXE"));
    EXPECT_EQ(before, HandleHighWater());
}

namespace
{
// Runs a copy of this test executable named `exeName` with a test filter, its output
// going to this test's output; its exit code, or STILL_ACTIVE when it did not end.
DWORD RunTestCopy(const std::string& exeName, const std::string& filter)
{
    const std::string copy = testfiles::BuildDirectory() + exeName;
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    if (!CopyFileA(self, copy.c_str(), FALSE))
        return GetLastError();
    std::string commandLine = "\"" + copy + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(copy.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &child))
        return GetLastError();
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(child.hProcess, 100000) == WAIT_OBJECT_0)
        (void)GetExitCodeProcess(child.hProcess, &exitCode);
    else
        (void)TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return exitCode;
}

// Wine answers GetVersionExA per executable file name as configured under AppDefaults.
void SetWineVersionFor(const std::string& exeName, const char* version)
{
    const std::string subkey = "Software\\Wine\\AppDefaults\\" + exeName;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                            static_cast<DWORD>(strlen(version) + 1)));
    RegCloseKey(key);
}
} // namespace

// The same rows, walked with Toolhelp: a copy of this executable that Wine reports as
// Windows 98.
TEST(ProcessCounterWindows9x, SameCasesThroughToolhelp)
{
    const std::string exeName = "win_tests98.exe";
    SetWineVersionFor(exeName, "win98");
    ASSERT_TRUE(SetEnvironmentVariableA("SEEKWELL_EXPECT_PLATFORM", "1"));
    std::string filter = "ProcessCounterFamily.*:ProcessCounterEmptyText.*:ProcessCounterHandles.*:"
                         "Rows/ProcessCounter.*:ProcessCounterLoad.*";
    // The copy runs in this process's code page; the double-byte case only where it
    // does not skip, since a skipped case would mark this one as skipped too.
    if (IsDBCSLeadByte(0x83))
        filter += ":ProcessCounterDoubleByte.*";
    const DWORD exitCode = RunTestCopy(exeName, filter);
    (void)SetEnvironmentVariableA("SEEKWELL_EXPECT_PLATFORM", nullptr);
    EXPECT_EQ(0u, exitCode);
}

// In a double-byte code page a search must not start on the trail byte of a character:
// 0x83 0x5C is one character (katakana SO in code page 932) whose trail byte is a
// backslash. Runs where the test runner starts this executable with a double-byte
// locale; skipped elsewhere.
TEST(ProcessCounterDoubleByte, SearchNeverStartsOnATrailByte)
{
    const std::string whyNot = codepage::WhyNotDoubleByte();
    if (!whyNot.empty())
        GTEST_SKIP() << whyNot;
    const std::string name = "\x83\x5C"
                             "dbcsprobe.exe";
    const RunningProgram program("C:\\Seekwell Tests\\DoubleByte\\" + name);
    ASSERT_TRUE(program.Started()) << program.Error();
    const std::string afterTrailByte = "\x5C"
                                       "dbcsprobe.exe";
    EXPECT_EQ(0, Count(afterTrailByte)) << "matched from a trail byte";
    EXPECT_EQ(1, Count(name));
    EXPECT_EQ(1, Count("dbcsprobe.exe"));
    EXPECT_EQ(1, Count("\x83"));
}

namespace
{
// Milliseconds of one count, the best of `rounds`, so that a busy machine does not
// make the number larger than the walk itself takes.
double CountMilliseconds(const std::string& text, int rounds, int& count)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        count = Count(text);
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}
} // namespace

// Exact with a hundred more processes than usual, and how long one count takes.
TEST(ProcessCounterLoad, HundredExtraProcessesAllCounted)
{
    int count = -1;
    const double idleMs = CountMilliseconds("msimn.exe", 5, count);
    ASSERT_EQ(0, count);
    const int everyProcess = Count("");

    std::vector<RunningProgram> programs;
    for (int i = 0; i < 100; ++i)
    {
        programs.emplace_back(kOutlookExpress);
        ASSERT_TRUE(programs.back().Started()) << programs.back().Error();
    }
    const double loadedMs = CountMilliseconds("msimn.exe", 5, count);
    EXPECT_EQ(100, count);

    std::cout << "one count: " << idleMs << " ms with " << everyProcess << " processes, " << loadedMs
              << " ms with 100 more" << std::endl;
    RecordProperty("count_ms_prefix", std::to_string(idleMs));
    RecordProperty("count_ms_100_more", std::to_string(loadedMs));
}
