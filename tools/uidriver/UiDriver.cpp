#include "UiDriver.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace ui
{
namespace
{
constexpr int kMessageBoxIconId = 0x440;
constexpr int kSaveAsFileNameCombo = 0x47C;
constexpr int kSaveAsFileNameEdit = 0x480;

bool IsDialogClass(HWND window)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    return std::strcmp(className, "#32770") == 0;
}

struct Search
{
    DWORD processId = 0;
    const char* caption = nullptr;
    HWND owner = nullptr;
    bool byOwner = false;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    if (!IsWindowVisible(window) || !IsDialogClass(window))
        return TRUE;
    if (search->byOwner)
    {
        if (GetWindow(window, GW_OWNER) == search->owner)
            search->found.push_back(window);
        return TRUE;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId)
        return TRUE;
    if (search->caption != nullptr && Text(window) != search->caption)
        return TRUE;
    search->found.push_back(window);
    return TRUE;
}

// A bitmap the size of a screen area with a memory DC drawing into it; owns the screen
// DC, the memory DC and the bitmap, and reads what was drawn as 32-bit rows.
class OffscreenCanvas
{
  public:
    OffscreenCanvas(int width, int height)
        : m_width(width), m_height(height), m_screen(GetDC(nullptr)), m_memory(CreateCompatibleDC(m_screen)),
          m_bitmap(CreateCompatibleBitmap(m_screen, width, height)),
          m_previous(SelectObject(m_memory, m_bitmap))
    {
    }
    ~OffscreenCanvas()
    {
        SelectObject(m_memory, m_previous);
        DeleteObject(m_bitmap);
        DeleteDC(m_memory);
        ReleaseDC(nullptr, m_screen);
    }
    OffscreenCanvas(const OffscreenCanvas&) = delete;
    OffscreenCanvas& operator=(const OffscreenCanvas&) = delete;

    HDC Screen() const { return m_screen; }
    HDC Memory() const { return m_memory; }

    // What has been drawn, top row first, in the DIB's BGR order.
    std::vector<DWORD> Rows() const
    {
        // GetDIBits wants the bitmap out of any DC.
        SelectObject(m_memory, m_previous);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = m_width;
        info.bmiHeader.biHeight = -m_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<DWORD> pixels(static_cast<size_t>(m_width) * m_height);
        GetDIBits(m_memory, m_bitmap, 0, m_height, pixels.data(), &info, DIB_RGB_COLORS);
        SelectObject(m_memory, m_bitmap);
        return pixels;
    }

  private:
    int m_width;
    int m_height;
    HDC m_screen;
    HDC m_memory;
    HBITMAP m_bitmap;
    HGDIOBJ m_previous;
};

// Captures a window's pixels from the screen as 32-bit rows, top row first.
std::vector<DWORD> CapturePixels(HWND window, int& width, int& height)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return {};
    const OffscreenCanvas canvas(width, height);
    BitBlt(canvas.Memory(), 0, 0, width, height, canvas.Screen(), rect.left, rect.top, SRCCOPY);
    return canvas.Rows();
}

// Draws a system icon over a background colour, as 32-bit rows.
std::vector<DWORD> RenderIcon(LPCSTR iconName, int width, int height, DWORD background)
{
    const OffscreenCanvas canvas(width, height);
    HBRUSH brush = CreateSolidBrush(RGB(GetRValue(background), GetGValue(background), GetBValue(background)));
    RECT all{0, 0, width, height};
    FillRect(canvas.Memory(), &all, brush);
    DeleteObject(brush);
    DrawIcon(canvas.Memory(), 0, 0, LoadIconA(nullptr, iconName));
    return canvas.Rows();
}

UINT IdentifyIcon(HWND iconControl)
{
    int width = 0;
    int height = 0;
    std::vector<DWORD> shown = CapturePixels(iconControl, width, height);
    if (shown.empty())
        return 0;
    // The corners of the system icons are transparent: the first pixel is background.
    // BGR order in the DIB; swap into a COLORREF.
    const DWORD bgr = shown[0] & 0xFFFFFF;
    const DWORD background = RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
    const struct
    {
        LPCSTR name;
        UINT style;
    } candidates[] = {{IDI_HAND, MB_ICONHAND},
                      {IDI_QUESTION, MB_ICONQUESTION},
                      {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                      {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& candidate : candidates)
    {
        std::vector<DWORD> drawn = RenderIcon(candidate.name, width, height, background);
        size_t same = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            same += (shown[i] & 0xFFFFFF) == (drawn[i] & 0xFFFFFF);
        if (same * 100 >= shown.size() * 98)
            return candidate.style;
    }
    return 0;
}
} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
}

std::vector<HWND> DialogsOfProcess(DWORD processId)
{
    Search search;
    search.processId = processId;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindDialog(DWORD processId, const char* caption)
{
    Search search;
    search.processId = processId;
    search.caption = caption;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found)
    {
        if (caption != nullptr || GetWindow(window, GW_OWNER) == nullptr)
            return window;
    }
    return nullptr;
}

HWND WaitForDialog(DWORD processId, const char* caption, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(processId, caption)) != nullptr; }, timeoutMs);
    return found;
}

HWND FindOwnedDialog(HWND owner)
{
    Search search;
    search.owner = owner;
    search.byOwner = true;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

HWND WaitForOwnedDialog(HWND owner, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindOwnedDialog(owner)) != nullptr; }, timeoutMs);
    return found;
}

std::string Text(HWND window)
{
    char text[4096] = {};
    const LRESULT length = SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return std::string(text, static_cast<size_t>(length > 0 ? length : 0));
}

std::string ItemText(HWND dialog, int id)
{
    return Text(GetDlgItem(dialog, id));
}

bool ItemExists(HWND dialog, int id)
{
    return GetDlgItem(dialog, id) != nullptr;
}

bool ItemEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool ItemVisible(HWND dialog, int id)
{
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

bool IsDefaultButton(HWND dialog, int id)
{
    const LONG style = GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE);
    return (style & 0x0F) == BS_DEFPUSHBUTTON;
}

HWND FocusedControl(HWND dialog)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

int FocusedControlId(HWND dialog)
{
    HWND focus = FocusedControl(dialog);
    return focus != nullptr ? GetDlgCtrlID(focus) : 0;
}

int ProgressPosition(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageA(dialog, id, PBM_GETPOS, 0, 0));
}

std::pair<int, int> ProgressRange(HWND dialog, int id)
{
    const int low = static_cast<int>(SendDlgItemMessageA(dialog, id, PBM_GETRANGE, TRUE, 0));
    const int high = static_cast<int>(SendDlgItemMessageA(dialog, id, PBM_GETRANGE, FALSE, 0));
    return {low, high};
}

std::vector<std::string> ListItems(HWND dialog, int id)
{
    // Wine hands list-box texts across processes as UTF-16 whatever the caller asked
    // for, so ask for UTF-16 and convert to the ANSI code page here.
    std::vector<std::string> items;
    HWND list = GetDlgItem(dialog, id);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
    {
        wchar_t text[1024] = {};
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length < 0 || length >= static_cast<LRESULT>(sizeof text / sizeof text[0]))
        {
            items.emplace_back("<unreadable>");
            continue;
        }
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        char ansi[4096] = {};
        const int bytes = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), ansi, sizeof ansi,
                                              nullptr, nullptr);
        items.emplace_back(ansi, static_cast<size_t>(bytes > 0 ? bytes : 0));
    }
    return items;
}

bool Click(HWND dialog, int id)
{
    // A disabled button cannot be clicked. The click is posted as the notification a
    // button sends its dialog, which does not depend on mouse capture or activation.
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr || !IsWindowEnabled(button) || !IsWindowVisible(button))
        return false;
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) !=
           FALSE;
}

void PressKey(HWND dialog, UINT virtualKey)
{
    HWND target = FocusedControl(dialog);
    if (target == nullptr)
        target = dialog;
    const UINT scanCode = MapVirtualKeyA(virtualKey, 0);
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1 | (scanCode << 16));
    PostMessageA(target, WM_KEYUP, virtualKey, 1 | (scanCode << 16) | 0xC0000000);
}

void CloseBox(HWND window)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void SystemCommand(HWND window, WPARAM command)
{
    PostMessageA(window, WM_SYSCOMMAND, command, 0);
}

UINT MessageBoxView::Style() const
{
    auto has = [&](int id)
    {
        for (int button : buttons)
            if (button == id)
                return true;
        return false;
    };
    UINT set = MB_OK;
    if (has(IDYES) && has(IDNO) && has(IDCANCEL))
        set = MB_YESNOCANCEL;
    else if (has(IDYES) && has(IDNO))
        set = MB_YESNO;
    else if (has(IDRETRY) && has(IDCANCEL))
        set = MB_RETRYCANCEL;
    else if (has(IDOK) && has(IDCANCEL))
        set = MB_OKCANCEL;
    else if (has(IDABORT))
        set = MB_ABORTRETRYIGNORE;
    return set | icon;
}

MessageBoxView ReadMessageBox(HWND messageBox)
{
    MessageBoxView view;
    view.caption = Text(messageBox);
    view.text = ItemText(messageBox, 0xFFFF);
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
    {
        HWND button = GetDlgItem(messageBox, id);
        if (button != nullptr && IsWindowVisible(button))
            view.buttons.push_back(id);
    }
    // The icon may not be on the screen yet right after the box appears, the later the
    // busier the machine: look until it is (the limit only ends a wait for an icon that
    // never comes).
    HWND icon = GetDlgItem(messageBox, kMessageBoxIconId);
    if (icon != nullptr && IsWindowVisible(icon))
        WaitUntil([&] { return (view.icon = IdentifyIcon(icon)) != 0; }, 20000);
    return view;
}

bool AnswerSaveAs(HWND saveAs, const std::string& path)
{
    HWND name = GetDlgItem(saveAs, kSaveAsFileNameCombo);
    if (name == nullptr)
        name = GetDlgItem(saveAs, kSaveAsFileNameEdit);
    if (name == nullptr)
        return false;
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    return Click(saveAs, IDOK);
}

bool SaveScreenshot(HWND window, const std::string& bmpPath)
{
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels = CapturePixels(window, width, height);
    if (pixels.empty())
        return false;
    const int rowBytes = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height; // bottom-up rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(rowBytes * height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::ofstream out(bmpPath, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(static_cast<size_t>(rowBytes), 0);
    for (int y = height - 1; y >= 0; --y)
    {
        for (int x = 0; x < width; ++x)
        {
            const DWORD pixel = pixels[static_cast<size_t>(y) * width + x];
            row[x * 3] = static_cast<char>(pixel & 0xFF);
            row[x * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
        out.write(row.data(), rowBytes);
    }
    return static_cast<bool>(out);
}

DWORD WaitForExit(HANDLE process, DWORD timeoutMs)
{
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}
} // namespace ui
