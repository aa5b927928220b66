// The Win32 test driver: starts Vandrel.exe, finds its windows and message
// boxes, reads and presses them, and collects the exit status.
#pragma once

#include "common/Owned.h"

#include <windows.h>

#include <string>
#include <vector>

namespace vandrel::test {

// A started program; killed at destruction if still running.
class Process {
public:
    // `arguments` is appended to the quoted program path with one space.
    static Process Start(const std::wstring& exe, const std::wstring& arguments);
    // Starts with the exact command line given.
    static Process StartCommandLine(const std::wstring& exe, const std::wstring& commandLine);
    Process(Process&&) = default;
    Process& operator=(Process&&) = default;
    ~Process();

    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    // The exit status, or STILL_ACTIVE when it did not end in time.
    DWORD Wait(DWORD milliseconds = 30000) const;
    bool Running() const;

private:
    Process() = default;
    OwnedHandle process_;
    DWORD id_ = 0;
};

// Runs a program to its end and returns its exit status.
DWORD Run(const std::wstring& exe, const std::wstring& arguments, DWORD milliseconds = 30000);

// A run's exit status and the text it wrote for a person.
struct Written {
    DWORD status;
    std::wstring text;
};
// Runs a program with one standard stream on a pipe (standard error, or
// STD_OUTPUT_HANDLE's); the text is what came through, read as UTF-8.
Written RunWithPipe(const std::wstring& exe, const std::wstring& arguments,
                    DWORD stream = STD_ERROR_HANDLE);
// Runs a program with no standard streams at all from a console of this
// process's own; the text is what that console shows afterwards.
Written RunInConsole(const std::wstring& exe, const std::wstring& arguments);

// A top-level window of the process with this class (or any class when
// empty) and, when not empty, this exact title; waits up to `milliseconds`.
HWND WaitForWindow(DWORD processId, const std::wstring& windowClass, const std::wstring& title,
                   DWORD milliseconds = 15000);
// Whether the process has any visible top-level window right now.
std::vector<HWND> VisibleWindows(DWORD processId);

// Text of any window, also across processes.
std::wstring WindowText(HWND window);
std::wstring ClassOf(HWND window);

// A message box of the process, titled "Vandrel".
HWND WaitForMessageBox(DWORD processId, DWORD milliseconds = 15000);
// The message box's text (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
// Presses the message box's OK button.
void PressOk(HWND box);

// A child window by its control id.
HWND Control(HWND parent, int id);
// The child windows, in creation order.
std::vector<HWND> Children(HWND parent);
// The first child window of this class with this text, or null.
HWND ChildByText(HWND parent, const std::wstring& windowClass, const std::wstring& text);
// A child window's rectangle in its parent's client coordinates.
RECT ControlRect(HWND control);
SIZE ClientSizeOf(HWND window);
// The DPI the window is drawn at.
UINT DpiOf(HWND window);
// The window with the keyboard focus in `window`'s thread.
HWND FocusOf(HWND window);

// Makes `window` the foreground window, so that key presses reach it.
bool BringToFront(HWND window);
// Presses and releases a key through the input system, as a keyboard does:
// it reaches the focus of the foreground window. A modifier (VK_SHIFT...)
// is held down around it.
void PressKey(WORD virtualKey, WORD modifier = 0);
// Clicks a button without waiting for what the click starts (BM_CLICK is
// posted: a message box would block a sent one).
void Click(HWND button);
// Types text into an edit control, one WM_CHAR per UTF-16 unit.
void Type(HWND edit, const std::wstring& text);
// Selects all of an edit control's text and types `text` over it.
void ReplaceText(HWND edit, const std::wstring& text);
// Waits until the window's text is `text`; returns the last text seen.
std::wstring WaitForText(HWND window, const std::wstring& text, DWORD milliseconds = 5000);
// Drops files on a window as Explorer does: a WM_DROPFILES whose DROPFILES
// block lives in the receiving process.
void DropFiles(HWND window, const std::vector<std::wstring>& paths);

// The platform's file dialog of the process with this title.
HWND WaitForDialog(DWORD processId, const std::wstring& title, DWORD milliseconds = 15000);
// The file dialog's controls: the file-type list and the file-name box.
inline constexpr int kFileTypeList = 0x470;
inline constexpr int kFileNameBox = 0x47C;
// The texts of a combo box's entries, in order.
std::vector<std::wstring> ComboItems(HWND combo);
// Types into the file dialog's file-name box and confirms or cancels.
void TypeFileName(HWND dialog, const std::wstring& name);
void ConfirmDialog(HWND dialog);
void CancelDialog(HWND dialog);

// Waits until the window is gone (destroyed or hidden).
bool WaitUntilGone(HWND window, DWORD milliseconds = 5000);

// Saves the screen area that the windows cover as a PNG file (a Linux path,
// ASCII only) with the X server's screenshot tool. Returns false when no
// file was made.
bool SaveScreenshot(const std::vector<HWND>& windows, const std::string& pngPath);

} // namespace vandrel::test
