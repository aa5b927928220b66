// The find and replace members: placeholders for dialogs the object does not
// offer.
#include "comdlg/ClsComdlg.h"

#include "comdlg/ComdlgPlatform.h"

namespace vandrel {

Flag ClsComdlg::ShowFind() {
    return kFalse;
}

Flag ClsComdlg::ShowReplace() {
    const ComdlgPlatform& platform = *ComdlgSeam();
    FINDREPLACEA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = platform.GetForegroundWindow();
    record.hInstance = AsInstance(m_Instance);
    record.wFindWhatLen = 255;

    // Without text buffers the platform refuses the record. Should a window
    // come back all the same, it would outlive the record it reads, so it
    // goes before the record does.
    const HWND window = platform.ReplaceTextA(&record);
    if (window) platform.DestroyWindow(window);
    return ToFlag(window != nullptr);
}

} // namespace vandrel
