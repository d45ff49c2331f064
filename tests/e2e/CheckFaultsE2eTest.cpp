// The fault matrix of the update check: a version file the server refuses, resets, cuts
// short, answers with an error status or pads to a megabyte, and a server that stalls.
#include "FaultMatrix.h"

using namespace e2e;

// The server's version file: each row either fails the check, which the updater reports
// as an unreachable server, or still yields a version, which it offers. Only the first
// seven characters are read: a body cut off before them is no version, one cut off after
// them is, whatever length was announced.
namespace
{
enum class CheckOutcome
{
    Unreachable,
    Offered,
};

struct VersionFault
{
    const char* edge;
    std::string body;
    std::string sidecar;
    bool routeNowhere;
    CheckOutcome outcome;
};

// Rows show as their edge in test lists (and in ctest names).
void PrintTo(const VersionFault& row, std::ostream* out)
{
    *out << row.edge;
}

class VersionFileFault : public FaultMatrix, public ::testing::WithParamInterface<VersionFault>
{
};
} // namespace

TEST_P(VersionFileFault, IsReportedWithoutHangOrLoss)
{
    const VersionFault& row = GetParam();
    testserver::ServeVersionFile(row.body, row.sidecar);
    if (row.routeNowhere)
        testserver::RouteUpdateHostNowhere();
    TakeSnapshots();
    LaunchAndStart();
    const DWORD started = GetTickCount();
    HWND box = m_updater.WaitForModal(kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end";
    Record(std::string(row.edge) + ".check_ms", std::to_string(GetTickCount() - started));
    Record(std::string(row.edge) + ".version_requests", std::to_string(CountRequestsFor("version.txt")));
    const ui::MessageBoxView view = ReadBox(box);
    if (row.outcome == CheckOutcome::Unreachable)
    {
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
        EXPECT_EQ("", view.caption);
        EXPECT_EQ(kUnreachable, view.text);
        Answer(box, IDOK);
    }
    else
    {
        EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION | MB_YESNOCANCEL), view.Style());
        EXPECT_EQ("Quorvel 3.0.1.3 is available.\nDo you want to download it now?", view.text);
        Answer(box, IDNO);
    }
    EXPECT_TRUE(ui::WaitUntil([&] { return StatusText() == kCheckEnded; }, 5000)) << StatusText();
    EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_START));
    EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, CountRequestsFor(kPackageName));
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside("");
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VersionFileFault,
    ::testing::Values(VersionFault{"Refused", kVersionFile, "", true, CheckOutcome::Unreachable},
                      VersionFault{"ResetBeforeHeaders", kVersionFile, R"({"reset_before_headers": true})",
                                   false, CheckOutcome::Unreachable},
                      VersionFault{"ResetAfterThreeBytes", kVersionFile, R"({"reset_after_bytes": 3})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"ClosedAfterThreeBytes", kVersionFile, R"({"close_after_bytes": 3})",
                                   false, CheckOutcome::Unreachable},
                      VersionFault{"Status404", "<html>not here</html>", R"({"status": 404})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"Status404WithAVersionAsBody", kVersionFile, R"({"status": 404})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"Status500", "<html>broken</html>", R"({"status": 500})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"TwoGigabyteLengthShortBody", kVersionFile,
                                   R"({"content_length": 2147483648})", false, CheckOutcome::Offered},
                      VersionFault{"OneMegabyteFile", kVersionFile + std::string(1024 * 1024, 'x'), "", false,
                                   CheckOutcome::Offered},
                      VersionFault{"OneMegabyteFileWithoutLength",
                                   kVersionFile + std::string(1024 * 1024, 'x'),
                                   R"({"omit_content_length": true})", false, CheckOutcome::Offered}),
    [](const ::testing::TestParamInfo<VersionFault>& row) { return std::string(row.param.edge); });

// A stall in the check: the platform's 500 ms time-outs either end it, or the updater
// waits until the server goes on. Either way the check ends and nothing is lost; how
// long it waited, and whether the dialog answered meanwhile, goes into the record.
namespace
{
constexpr DWORD kStallMs = 4000;

class CheckStall : public FaultMatrix, public ::testing::WithParamInterface<Stall>
{
};
} // namespace

TEST_P(CheckStall, EndsAndIsRecorded)
{
    const Stall& row = GetParam();
    testserver::ServeVersionFile(kVersionFile, row.sidecar);
    TakeSnapshots();
    LaunchAndStart();
    const DWORD started = GetTickCount();
    Sleep(1500);
    const bool answeredDuringStall = Answers(m_updater.Dialog());
    HWND box = m_updater.WaitForModal(kStallMs + kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end after the server went on";
    const DWORD waited = GetTickCount() - started;
    Record(std::string(row.edge) + ".check_ms", std::to_string(waited));
    Record(std::string(row.edge) + ".dialog_answered_during_stall", answeredDuringStall ? "yes" : "no");
    const ui::MessageBoxView view = ReadBox(box);
    if (waited < kStallMs)
    {
        // The time-outs ended the fetch: a fetch cut short is no version.
        EXPECT_EQ(kUnreachable, view.text);
        Answer(box, IDOK);
    }
    else
    {
        EXPECT_EQ("Quorvel 3.0.1.3 is available.\nDo you want to download it now?", view.text);
        Answer(box, IDNO);
    }
    EXPECT_TRUE(ui::WaitUntil([&] { return StatusText() == kCheckEnded; }, 5000)) << StatusText();
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside("");
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, CheckStall,
    ::testing::Values(Stall{"BeforeHeaders", R"({"delay_headers_ms": )" + std::to_string(kStallMs) + "}"},
                      Stall{"AfterThreeBytes",
                            R"({"stall_after_bytes": 3, "stall_ms": )" + std::to_string(kStallMs) + "}"}),
    [](const ::testing::TestParamInfo<Stall>& row) { return std::string(row.param.edge); });
