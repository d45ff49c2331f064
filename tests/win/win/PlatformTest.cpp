// The shared platform helpers and the handle owners, against the real platform calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "Handles.h"
#include "Platform.h"
#include "SystemClock.h"

TEST(Platform, ExecutableDirectoryIsTheFolderOfTheRunningProgram)
{
    const std::string directory = ExecutableDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ('\\', directory.back());
    const std::string program = directory + "win_tests.exe";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(program.c_str())) << program;
}

TEST(Platform, BindProcedureTypesAnExportAndGivesNullForAMissingOne)
{
    using GetTickCountFunction = DWORD(WINAPI*)();
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto getTickCount = BindProcedure<GetTickCountFunction>(kernel, "GetTickCount");
    ASSERT_NE(nullptr, getTickCount);
    EXPECT_NE(0u, getTickCount());
    EXPECT_EQ(nullptr, BindProcedure<GetTickCountFunction>(kernel, "NoSuchFunctionAnywhere"));
}

// The clock every time limit and expiry is read from: the same seconds since 1970 as the
// runtime's clock (which the updater itself cannot import on the oldest systems).
TEST(Platform, SystemClockIsTheRuntimesUnixTime)
{
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const int64_t now = SystemClockSeconds();
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

// A failed call's reason is read after its owners are gone; closing them must not
// overwrite it, not even when the close itself fails.
TEST(Owners, KeepTheLastErrorAcrossTheirCleanup)
{
    {
        UniqueFileHandle file(
            CreateFileA("C:\\no\\such\\folder\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        UniqueKernelHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ASSERT_FALSE(file);
        ASSERT_TRUE(event);
        SetLastError(ERROR_PATH_NOT_FOUND);
        UniqueKernelHandle bogus(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FF0)));
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}
