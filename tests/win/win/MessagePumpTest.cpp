// The nested message pump that keeps a window responsive inside a long synchronous
// call, against the real message queue.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"
#include "MessagePump.h"

namespace
{
// A window that counts what reaches its window procedure.
struct MessageSink
{
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* sink = reinterpret_cast<MessageSink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (sink != nullptr && message == WM_APP)
            ++sink->appMessages;
        if (sink != nullptr && message == WM_CHAR)
            sink->characters += static_cast<char>(wParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    MessageSink()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = Proc;
        windowClass.lpszClassName = "PumpTestSink";
        (void)RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "PumpTestSink", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~MessageSink() { DestroyWindow(window); }

    HWND window = nullptr;
    int appMessages = 0;
    std::string characters;
};

bool QueueHasMessages()
{
    MSG message;
    return PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) != FALSE;
}

void DrainQueue()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

class MessagePump : public ::testing::Test
{
  protected:
    void SetUp() override { DrainQueue(); }
};
} // namespace

TEST_F(MessagePump, DispatchesAndTranslatesUntilTheQueueIsEmpty)
{
    MessageSink sink;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(PostMessageA(sink.window, WM_APP, 0, 0));
    // A key press becomes a character only through TranslateMessage.
    ASSERT_TRUE(PostMessageA(sink.window, WM_KEYDOWN, 'Q', 0x00100001));

    PumpWaitingMessages();

    EXPECT_EQ(3, sink.appMessages);
    EXPECT_EQ("q", sink.characters);
    EXPECT_FALSE(QueueHasMessages());
}

TEST_F(MessagePump, ReturnsAtOnceOnAnEmptyQueue)
{
    PumpWaitingMessages();
    EXPECT_FALSE(QueueHasMessages());
}

namespace
{
// Makes a repaint that PeekMessage has just reported vanish before GetMessage can take
// it, as a repaint settled by the platform in between does: a message hook sees the
// peek and validates the window.
HHOOK g_vanishHook = nullptr;
LRESULT CALLBACK ValidateOnPeek(int code, WPARAM removal, LPARAM lParam)
{
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_NOREMOVE && message->message == WM_PAINT)
        (void)ValidateRect(message->hwnd, nullptr);
    return CallNextHookEx(g_vanishHook, code, removal, lParam);
}

// Posts WM_NULL to a thread after a while, unless told it is no longer needed, so that
// a pump stuck in GetMessage ends the test instead of hanging it.
struct Rescuer
{
    static DWORD WINAPI Run(void* self)
    {
        auto* rescuer = static_cast<Rescuer*>(self);
        if (WaitForSingleObject(rescuer->done.get(), 5000) == WAIT_TIMEOUT)
        {
            rescuer->rescued = true;
            (void)PostThreadMessageA(rescuer->threadId, WM_NULL, 0, 0);
        }
        return 0;
    }
    Rescuer()
        : done(CreateEventA(nullptr, TRUE, FALSE, nullptr)), threadId(GetCurrentThreadId()),
          thread(CreateThread(nullptr, 0, Run, this, 0, nullptr))
    {
    }
    ~Rescuer()
    {
        (void)SetEvent(done.get());
        (void)WaitForSingleObject(thread.get(), INFINITE);
    }
    UniqueKernelHandle done;
    DWORD threadId;
    std::atomic<bool> rescued{false};
    UniqueKernelHandle thread;
};
} // namespace

// While a notification is handled the transfer posts nothing more, so a GetMessage that
// waited for a vanished message would wait for good and the download would never end.
TEST_F(MessagePump, ReturnsWhenAPeekedMessageVanishes)
{
    MessageSink sink;
    ShowWindow(sink.window, SW_SHOWNA);
    DrainQueue();
    ASSERT_TRUE(InvalidateRect(sink.window, nullptr, FALSE));
    g_vanishHook = SetWindowsHookExA(WH_GETMESSAGE, ValidateOnPeek, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, g_vanishHook);
    bool rescued = false;
    DWORD took = 0;
    {
        Rescuer rescuer;
        const DWORD start = GetTickCount();
        PumpWaitingMessages();
        took = GetTickCount() - start;
        rescued = rescuer.rescued;
    }
    UnhookWindowsHookEx(g_vanishHook);
    g_vanishHook = nullptr;
    EXPECT_FALSE(rescued) << "GetMessage waited for a message that was gone";
    EXPECT_LT(took, 1000u);
    EXPECT_FALSE(QueueHasMessages());
}

namespace
{
// A modeless dialog with OK (default) and Cancel, recording the commands it receives.
struct KeyDialog
{
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_INITDIALOG)
        {
            SetWindowLongPtrA(window, DWLP_USER, lParam);
            return TRUE;
        }
        auto* self = reinterpret_cast<KeyDialog*>(GetWindowLongPtrA(window, DWLP_USER));
        if (self != nullptr && message == WM_COMMAND)
            self->commands.push_back(LOWORD(wParam));
        return FALSE;
    }

    KeyDialog()
    {
        // DLGTEMPLATE, then menu, class and title (empty), then two button items.
        alignas(4) static WORD tmpl[64];
        WORD* at = tmpl;
        auto* dialog = reinterpret_cast<DLGTEMPLATE*>(at);
        dialog->style = WS_POPUP | DS_MODALFRAME;
        dialog->cdit = 2;
        dialog->cx = 100;
        dialog->cy = 50;
        at = reinterpret_cast<WORD*>(dialog + 1);
        *at++ = 0;
        *at++ = 0;
        *at++ = 0;
        const struct
        {
            WORD id;
            DWORD style;
        } buttons[] = {{IDOK, BS_DEFPUSHBUTTON}, {IDCANCEL, BS_PUSHBUTTON}};
        short x = 5;
        for (const auto& button : buttons)
        {
            at = reinterpret_cast<WORD*>((reinterpret_cast<ULONG_PTR>(at) + 3) & ~ULONG_PTR{3});
            auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(at);
            item->style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | button.style;
            item->x = x;
            item->y = 20;
            item->cx = 40;
            item->cy = 14;
            item->id = button.id;
            x = static_cast<short>(x + 45);
            at = reinterpret_cast<WORD*>(item + 1);
            *at++ = 0xFFFF;
            *at++ = 0x0080; // button class
            *at++ = 0;      // no title
            *at++ = 0;      // no creation data
        }
        window = CreateDialogIndirectParamA(nullptr, reinterpret_cast<DLGTEMPLATE*>(tmpl), nullptr, Proc,
                                            reinterpret_cast<LPARAM>(this));
    }
    ~KeyDialog() { DestroyWindow(window); }

    HWND window = nullptr;
    std::vector<WORD> commands;
};
} // namespace

// The dialog manager would turn these keys into Cancel, OK and a focus move; the pump
// hands them to the focused control as plain keys, which a push button ignores.
TEST_F(MessagePump, DoesNoDialogKeyHandling)
{
    KeyDialog dialog;
    ASSERT_NE(nullptr, dialog.window);
    HWND cancel = GetDlgItem(dialog.window, IDCANCEL);
    SetFocus(cancel);
    DrainQueue();
    dialog.commands.clear();

    for (WPARAM key : {VK_ESCAPE, VK_RETURN, VK_TAB})
    {
        ASSERT_TRUE(PostMessageA(cancel, WM_KEYDOWN, key, 1));
        ASSERT_TRUE(PostMessageA(cancel, WM_KEYUP, key, 0xC0000001));
    }
    PumpWaitingMessages();

    EXPECT_TRUE(dialog.commands.empty())
        << "first command " << (dialog.commands.empty() ? 0 : dialog.commands[0]);
    EXPECT_EQ(cancel, GetFocus());
}

namespace
{
// A window that answers each WM_APP by posting the next: a queue that never empties, as
// a fast transfer's notifications keep it. It gives up after `limit` so that a wait that
// cannot see its end still ends the test.
struct Flood
{
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* flood = reinterpret_cast<Flood*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (flood != nullptr && message == WM_APP && ++flood->dispatched < flood->limit)
            (void)PostMessageA(window, WM_APP, 0, 0);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    Flood()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = Proc;
        windowClass.lpszClassName = "PumpTestFlood";
        (void)RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "PumpTestFlood", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Flood() { DestroyWindow(window); }

    HWND window = nullptr;
    long dispatched = 0;
    long limit = 5'000'000;
};

// Sets an event from another thread after a while.
struct LateSetter
{
    static DWORD WINAPI Run(void* self)
    {
        auto* setter = static_cast<LateSetter*>(self);
        Sleep(setter->afterMs);
        (void)SetEvent(setter->event);
        return 0;
    }
    LateSetter(HANDLE toSet, DWORD after)
        : event(toSet), afterMs(after), thread(CreateThread(nullptr, 0, Run, this, 0, nullptr))
    {
    }
    ~LateSetter() { (void)WaitForSingleObject(thread.get(), INFINITE); }
    HANDLE event;
    DWORD afterMs;
    UniqueKernelHandle thread;
};
} // namespace

// The wait ends at its time, or as soon as its event is set, whatever the queue does
// meanwhile; what arrives is dispatched either way.
TEST_F(MessagePump, WaitEndsAtItsTimeOrItsEventWhileDispatching)
{
    struct Row
    {
        const char* edge;
        bool withEvent;
        DWORD setAfterMs; // 0: never set
        bool flood;
        bool signalled;
        DWORD atLeastMs;
        DWORD atMostMs;
    };
    const Row rows[] = {
        {"no event, quiet queue", false, 0, false, false, 300, 1000},
        {"event never set", true, 0, false, false, 300, 1000},
        {"event set by another thread", true, 100, false, true, 80, 280},
        {"no event, a queue that never empties", false, 0, true, false, 300, 1000},
        {"event set while the queue never empties", true, 100, true, true, 80, 280},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        DrainQueue();
        MessageSink sink;
        Flood flood;
        UniqueKernelHandle event(row.withEvent ? CreateEventA(nullptr, FALSE, FALSE, nullptr) : nullptr);
        ASSERT_TRUE(PostMessageA(sink.window, WM_APP, 0, 0));
        if (row.flood)
        {
            ASSERT_TRUE(PostMessageA(flood.window, WM_APP, 0, 0));
        }
        const DWORD started = GetTickCount();
        bool signalled = false;
        {
            std::unique_ptr<LateSetter> setter;
            if (row.setAfterMs != 0)
                setter = std::make_unique<LateSetter>(event.get(), row.setAfterMs);
            signalled = WaitPumpingMessages(event.get(), 300);
        }
        const DWORD took = GetTickCount() - started;
        flood.limit = 0;

        EXPECT_EQ(row.signalled, signalled);
        EXPECT_GE(took, row.atLeastMs);
        EXPECT_LE(took, row.atMostMs);
        EXPECT_EQ(1, sink.appMessages);
        EXPECT_TRUE(!row.flood || flood.dispatched > 10) << flood.dispatched;
    }
}
