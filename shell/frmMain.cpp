#include "shell/frmMain.h"

#include "common/Error.h"
#include "common/Owned.h"
#include "common/SystemLibrary.h"

#include "shell/BrowseOpenFile.h"
#include "shell/ModMain.h"
#include "shell/frmMainDpi.h"
#include "shell/frmMainDrop.h"
#include "res/Resource.h"
#include "shell/Texts.h"
#include "shell/frmMainLayout.h"

#include <objbase.h>

#include <exception>
#include <string>

namespace vandrel {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU; // fixed, close box only
constexpr DWORD kExStyle = WS_EX_ACCEPTFILES;

// COM for the file dialog's shell views: entered before the first browse,
// left when the window's loop is over. ole32 is loaded only then.
struct ApartmentTraits {
    static bool invalid() { return false; }
    static void close(bool) {
        if (auto leave = SystemEntry<decltype(&::CoUninitialize)>(L"ole32.dll", "CoUninitialize"))
            leave();
    }
};
using Apartment = Owned<bool, ApartmentTraits>;

bool EnterApartment() {
    auto enter = SystemEntry<decltype(&::CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
    return enter && SUCCEEDED(enter(nullptr, COINIT_APARTMENTTHREADED));
}

class FrmMain {
public:
    FrmMain() = default;
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

    int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Fail(UINT message);

    void OnCreate();
    void OnCommand(int id, int code);
    void OnDropFiles(HDROP drop);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void ApplyDpi(UINT dpi);
    void Centre();
    void KeepFocus();
    HWND hwnd() const { return window_.get(); }
    HWND Control(int id) const { return ::GetDlgItem(hwnd(), id); }
    std::wstring PathText() const;

    void CmdReg_Click();
    void CmdUnReg_Click();
    void CmdBrowse_Click();
    void CmdClose_Click();

    // Declared before the window, so they outlive it: the window still uses
    // the font and the apartment while it is destroyed.
    Apartment apartment_;
    OwnedFont font_;
    OwnedWindow window_;   // from WM_NCCREATE to WM_NCDESTROY
    HWND focus_ = nullptr; // the control that gets the focus back on activation
    bool loaded_ = false;
    std::exception_ptr error_;
};

int FrmMain::Run() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_VANDREL));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ui::kMainTitle;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Error("无法注册主窗口的窗口类");

    // The size depends on the DPI of the monitor the window lands on, so it
    // is set once the window exists.
    const HWND created =
        ::CreateWindowExW(kExStyle, ui::kMainTitle, ui::kMainTitle, kStyle, CW_USEDEFAULT,
                          CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
    if (error_) std::rethrow_exception(error_);
    if (!created) throw Error("无法创建主窗口");
    loaded_ = true;
    ::ShowWindow(hwnd(), SW_SHOWDEFAULT);

    MSG message;
    BOOL got;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) throw Error("消息循环失败");
        // Tab, Shift+Tab and the arrow keys move between the controls as in a
        // dialog; Enter and Escape become IDOK and IDCANCEL, which no control has.
        if (hwnd() && ::IsDialogMessageW(hwnd(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    if (error_) std::rethrow_exception(error_);
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK FrmMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<FrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_.reset(hwnd);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FrmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    // No exception may unwind through user32's frames: it is kept, the window
    // goes, and Run rethrows it once the loop is over.
    try {
        return self->Handle(hwnd, message, wParam, lParam);
    } catch (...) {
        if (!self->error_) self->error_ = std::current_exception();
        self->Fail(message);
        return message == WM_CREATE ? -1 : 0;
    }
}

void FrmMain::Fail(UINT message) {
    // A failed WM_CREATE is undone by CreateWindowEx itself.
    if (message != WM_CREATE && hwnd()) ::DestroyWindow(hwnd());
}

LRESULT FrmMain::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) KeepFocus();
        break; // activation focuses the window itself, and WM_SETFOCUS passes it on
    case WM_SETFOCUS:
        ::SetFocus(focus_);
        return 0;
    case WM_DESTROY:
        if (loaded_) ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        // The platform has destroyed the window; nothing is left to own.
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        window_.release();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void FrmMain::OnCreate() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // Created in tab-index order, which makes it the order Tab visits.
    for (const ControlLayout* control : CreationOrder()) {
        const wchar_t* windowClass = L"Button";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (control->kind) {
        case ControlKind::Label:
            windowClass = L"Static";
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::TextBox:
            windowClass = L"Edit";
            style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Button:
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        }
        if (!::CreateWindowExW(exStyle, windowClass, control->text, style, 0, 0, 0, 0, hwnd(),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(control->id)), instance,
                               nullptr))
            throw Error("无法创建主窗口的控件");
    }
    // No limit of the path box's own: the largest an edit control takes.
    ::SendMessageW(Control(kIdTxtFileName), EM_LIMITTEXT, 0, 0);
    focus_ = Control(kIdTxtFileName);
    ApplyDpi(WindowDpi(hwnd()));
    Centre();
}

void FrmMain::Centre() {
    // In the middle of the work area of the monitor the window starts on,
    // where the result messages appear too.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT window{};
    if (!::GetMonitorInfoW(::MonitorFromWindow(hwnd(), MONITOR_DEFAULTTOPRIMARY), &monitor) ||
        !::GetWindowRect(hwnd(), &window))
        return;
    const RECT& area = monitor.rcWork;
    const LONG width = window.right - window.left, height = window.bottom - window.top;
    ::SetWindowPos(hwnd(), nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FrmMain::ApplyDpi(UINT dpi) {
    // The controls switch to the new font before the old one is deleted.
    OwnedFont font = MessageFont(dpi);
    for (const ControlLayout& control : kMainControls) {
        const RECT r = PixelRect(control, dpi);
        const HWND child = Control(control.id);
        ::SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    font_ = std::move(font);
    const SIZE frame = FrameSize(ClientSize(dpi), kStyle, kExStyle, dpi);
    ::SetWindowPos(hwnd(), nullptr, 0, 0, frame.cx, frame.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FrmMain::KeepFocus() {
    // Like a dialog, the window hands the focus back to the control that had
    // it, for instance after a result message.
    const HWND focus = ::GetFocus();
    if (focus && ::IsChild(hwnd(), focus)) focus_ = focus;
}

void FrmMain::OnDpiChanged(UINT dpi, const RECT& suggested) {
    ApplyDpi(dpi);
    ::SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FrmMain::OnCommand(int id, int code) {
    // IDOK and IDCANCEL (Enter and Escape) fall through here: no control has them.
    if (code != BN_CLICKED) return;
    switch (id) {
    case kIdCmdReg:
        return CmdReg_Click();
    case kIdCmdUnReg:
        return CmdUnReg_Click();
    case kIdCmdBrowse:
        return CmdBrowse_Click();
    case kIdCmdClose:
        return CmdClose_Click();
    }
}

void FrmMain::OnDropFiles(HDROP drop) {
    const std::wstring path = FirstDroppedFile(drop);
    if (!path.empty()) ::SetWindowTextW(Control(kIdTxtFileName), path.c_str());
}

std::wstring FrmMain::PathText() const {
    const HWND box = Control(kIdTxtFileName);
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
    return text;
}

void FrmMain::CmdReg_Click() {
    RegFile(PathText(), kTrue, hwnd());
}

void FrmMain::CmdUnReg_Click() {
    UnRegFile(PathText(), kTrue, hwnd());
}

void FrmMain::CmdBrowse_Click() {
    if (!apartment_) apartment_.reset(EnterApartment());
    const std::wstring path = BrowseForTypeLibrary();
    if (!path.empty()) ::SetWindowTextW(Control(kIdTxtFileName), path.c_str());
}

void FrmMain::CmdClose_Click() {
    ::DestroyWindow(hwnd());
}

} // namespace

int RunMainWindow() {
    FrmMain window;
    return window.Run();
}

} // namespace vandrel
