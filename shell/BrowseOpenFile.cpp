#include "shell/BrowseOpenFile.h"

#include "comdlg/ClsComdlg.h"
#include "shell/ModAddString.h"
#include "shell/Texts.h"

#include <windows.h>
#include <commdlg.h>

#include <utility>

namespace vandrel {
namespace {

constexpr std::int32_t kSingleFile = OFN_EXPLORER | OFN_PATHMUSTEXIST;
constexpr std::int32_t kManyFiles = kSingleFile | OFN_ALLOWMULTISELECT;

} // namespace

std::wstring BrowseOpenFile(std::wstring title, const Flag& multiSelect, std::wstring filter) {
    // One object per browse: nothing of one browse carries over to the next,
    // and the object goes also when an error passes through.
    ClsComdlg dialog;
    const std::int32_t dialogFlags = multiSelect != 0 ? kManyFiles : kSingleFile;
    std::wstring types = filter.empty() ? std::wstring() : AddString(std::move(filter), L"|");
    types += ui::kAllFilesFilter;

    dialog.Filter(std::move(types));
    dialog.flags(dialogFlags);
    dialog.DialogTitle(std::move(title));
    dialog.ShowOpen();
    // A cancelled dialog leaves FileName as it started: empty.
    return dialog.FileName();
}

std::wstring BrowseForTypeLibrary() {
    const Flag multiSelect = kFalse;
    return BrowseOpenFile(ui::kBrowseTitle, multiSelect, ui::kTypeLibFilter);
}

} // namespace vandrel
