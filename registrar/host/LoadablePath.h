// Which paths reach the type library loader: an existing regular file, or
// such a file followed by a resource index ("x.dll\\2"), made absolute; a
// library file that plainly ends early does not (LibraryShape.h).
#pragma once

#include "common/Seam.h"
#include "registrar/ModVandrel.h"
#include "registrar/RegistrarResult.h"

#include <optional>
#include <string>

namespace vandrel {

// Where a path leads: the file and resource the loader would read, or why
// it leads nowhere (NoFile or Damaged, with a status that says more).
struct Resolved {
    Failure failure = Failure::None;
    HRESULT status = S_OK;
    std::wstring path;
    unsigned long long fileBytes = 0; // the file's size, for the worker's bounds
};
// A name that exists but is no plain file fails with this status.
inline constexpr HRESULT kNoPlainFile = HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE);
// Whether a failed resolution found the file, or a folder on its way, not
// there on a volume that answers: anything else (no plain file, no access,
// a drive that is not mapped, a share that does not answer) is no evidence
// that it is gone. Resolve never gives those two statuses for such a path.
inline bool Gone(const Resolved& resolved) {
    return resolved.failure == Failure::NoFile &&
           (resolved.status == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
            resolved.status == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}
Resolved Resolve(const std::wstring& path);
// The "\\N" a resolved path ends in where it names resource N of a file,
// else empty.
std::wstring ResourceSuffix(const Resolved& resolved);

// The state of the file a registration names (RegistrarResult.h): Resolve
// finds it, Gone above, or neither.
FileState RegisteredFileState(const std::wstring& path);

// The file probe the rules above turn on, replaceable by tests: a refused
// access cannot be had otherwise under Wine, where every process may read
// every file.
struct FileProbe {
    decltype(&::GetFileAttributesW) GetFileAttributesW;
};
Seam<FileProbe>& FileProbeSeam();

// Two full paths of one file, the one perhaps in the "\\\\?\\" form the
// platform writes into the registry.
bool SameFile(const std::wstring& a, const std::wstring& b);

} // namespace vandrel
