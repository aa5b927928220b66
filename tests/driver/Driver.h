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

} // namespace vandrel::test
