// Files dropped on the main window from Explorer.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace vandrel {

// The full path of the first file of a WM_DROPFILES drop, or empty when it
// holds none. Always releases the drop. shell32 is loaded on the first drop,
// not at start: most runs never see a drop, and every start would pay for the
// import. Without shell32 the drop cannot even be released; it is ignored.
std::wstring FirstDroppedFile(HDROP drop);

} // namespace vandrel
