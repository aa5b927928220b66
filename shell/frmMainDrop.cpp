#include "shell/frmMainDrop.h"

#include "common/SystemLibrary.h"

namespace vandrel {

bool DroppedFiles::Load() {
    if (query_ && finish_) return true;
    if (!shell32_) shell32_.reset(LoadSystemLibrary(L"shell32.dll"));
    if (!shell32_) return false;
    query_ = EntryOf<decltype(query_)>(shell32_.get(), "DragQueryFileW");
    finish_ = EntryOf<decltype(finish_)>(shell32_.get(), "DragFinish");
    return query_ && finish_;
}

std::wstring DroppedFiles::First(HDROP drop) {
    // Without shell32 the drop cannot even be released; it is ignored.
    if (!Load()) return std::wstring();
    struct Release {
        HDROP drop;
        decltype(&::DragFinish) finish;
        ~Release() { finish(drop); }
    } release{drop, finish_};

    if (query_(drop, 0xFFFFFFFF, nullptr, 0) == 0) return std::wstring();
    const UINT length = query_(drop, 0, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    path.resize(query_(drop, 0, path.data(), length + 1));
    return path;
}

} // namespace vandrel
