#include "shell/frmMainDrop.h"

#include "common/Owned.h"
#include "common/SystemLibrary.h"

namespace vandrel {
namespace {

decltype(&::DragFinish) Finish() {
    static const auto finish = SystemEntry<decltype(&::DragFinish)>(L"shell32.dll", "DragFinish");
    return finish;
}

struct DropTraits {
    static HDROP invalid() { return nullptr; }
    static void close(HDROP drop) { Finish()(drop); }
};

} // namespace

std::wstring FirstDroppedFile(HDROP drop) {
    static const auto query =
        SystemEntry<decltype(&::DragQueryFileW)>(L"shell32.dll", "DragQueryFileW");
    if (!query || !Finish()) return std::wstring();
    const Owned<HDROP, DropTraits> owned(drop);

    if (query(drop, 0xFFFFFFFF, nullptr, 0) == 0) return std::wstring();
    const UINT length = query(drop, 0, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    path.resize(query(drop, 0, path.data(), length + 1));
    return path;
}

} // namespace vandrel
