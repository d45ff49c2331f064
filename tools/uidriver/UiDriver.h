// Drives the updater's windows from another process, as a user would: finds windows,
// reads texts and states, presses buttons and keys, answers message boxes and the
// Save-As dialog, takes screenshots. Everything goes through cross-process window
// messages; nothing reaches into the updater's memory.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui
{
// Polls `condition` every 20 ms until it holds or `timeoutMs` has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// The visible top-level window of process `processId` with the dialog class whose
// caption is `caption` (any caption when null), or null.
HWND FindDialog(DWORD processId, const char* caption);
HWND WaitForDialog(DWORD processId, const char* caption, DWORD timeoutMs);

// The visible dialog-class window owned by `owner` (a message box, Save-As, a modal
// dialog), or null.
HWND FindOwnedDialog(HWND owner);
HWND WaitForOwnedDialog(HWND owner, DWORD timeoutMs);

// Every visible top-level dialog-class window of a process.
std::vector<HWND> DialogsOfProcess(DWORD processId);

std::string Text(HWND window);
std::string ItemText(HWND dialog, int id);
bool ItemExists(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
bool ItemVisible(HWND dialog, int id);
// True when the button has the default push-button style.
bool IsDefaultButton(HWND dialog, int id);
// The control that has the keyboard focus in the window's thread.
HWND FocusedControl(HWND dialog);
int FocusedControlId(HWND dialog);

int ProgressPosition(HWND dialog, int id);
// Minimum and maximum of a progress bar.
std::pair<int, int> ProgressRange(HWND dialog, int id);
std::vector<std::string> ListItems(HWND dialog, int id);

// Presses a button the way a click does, without waiting for its handler (which may
// open a modal window of its own). False when the button is disabled or hidden.
bool Click(HWND dialog, int id);
// Sends a key press to the control that has the focus (VK_ESCAPE, VK_RETURN, VK_TAB).
void PressKey(HWND dialog, UINT virtualKey);
// The caption's close box.
void CloseBox(HWND window);
// Chooses an item of the window's system menu by command id.
void SystemCommand(HWND window, WPARAM command);

// What a message box shows: caption, text, its buttons' ids and its icon.
struct MessageBoxView
{
    std::string caption;
    std::string text;
    std::vector<int> buttons; // in the order IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO
    UINT icon = 0;            // MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK or 0
    // The style these make up (icon | button set), comparable with the MB_* values.
    UINT Style() const;
};
MessageBoxView ReadMessageBox(HWND messageBox);

// Types `path` into the Save-As dialog's file-name box and confirms it.
bool AnswerSaveAs(HWND saveAs, const std::string& path);

// Saves what the window shows as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& bmpPath);

// Waits until the process has ended; its exit code, or STILL_ACTIVE.
DWORD WaitForExit(HANDLE process, DWORD timeoutMs);
} // namespace ui
