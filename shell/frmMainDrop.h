// Files dropped on the main window from Explorer.
#pragma once

#include "common/Owned.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace vandrel {

// Reads WM_DROPFILES. shell32 is loaded on the first drop, not at start:
// most runs never see a drop, and every start would pay for the import.
class DroppedFiles {
public:
    // The full path of the first dropped file, or empty when the drop holds
    // none. Always releases the drop.
    std::wstring First(HDROP drop);

private:
    bool Load();

    OwnedModule shell32_;
    decltype(&::DragQueryFileW) query_ = nullptr;
    decltype(&::DragFinish) finish_ = nullptr;
};

} // namespace vandrel
