// What a process holds, counted in ways that also work under Wine, whose
// GetGuiResources, GetProcessHandleCount and PrivateUsage report zero.
#pragma once

#include "common/Owned.h"

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vandrel::test {

struct ResourceUse {
    int kernelHandles = 0;         // open kernel handles of this process
    int gdiObjects = 0;            // live GDI objects reachable from this process
    int userObjects = 0;           // windows and menus
    std::int64_t privateBytes = 0; // committed private memory
};

inline ResourceUse CurrentResourceUse() {
    ResourceUse use;
    DWORD flags = 0;
    // Handles are multiples of four, handed out lowest first: a long run of
    // unused values means none follow.
    for (ULONG_PTR h = 4, last = 0; h < 0x4000000 && h - last < 0x10000; h += 4)
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) {
            ++use.kernelHandles;
            last = h;
        }
    // GDI and USER handles are table indices that also resolve without their
    // generation word.
    for (ULONG_PTR h = 0x20; h < 0x10000; ++h)
        if (::GetObjectType(reinterpret_cast<HGDIOBJ>(h))) ++use.gdiObjects;
    for (ULONG_PTR h = 0x20; h < 0x10000; h += 2)
        if (::IsWindow(reinterpret_cast<HWND>(h)) || ::IsMenu(reinterpret_cast<HMENU>(h)))
            ++use.userObjects;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            use.privateBytes += static_cast<std::int64_t>(region.RegionSize);
        if (static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize < at) break;
    }
    return use;
}

// Wine's RegisterTypeLib and UnRegisterTypeLib themselves leave registry key
// handles open (two and four per call in Wine 8). The handles the bare
// platform calls leave over `cycles` register calls (each followed by an
// unregister call when asked) of an already loaded library, in this process:
// what a program's own count is measured against, in the same run.
inline int PlatformHandlesLeft(const std::wstring& lib, int cycles, bool unregister) {
    ComPtr<ITypeLib> library;
    if (::LoadTypeLibEx(lib.c_str(), REGKIND_NONE, library.put()) != S_OK) return -1;
    TLIBATTR* attr = nullptr;
    if (library->GetLibAttr(&attr) != S_OK) return -1;
    std::wstring path = lib;
    wchar_t noHelp[] = L"";
    const int before = CurrentResourceUse().kernelHandles;
    for (int i = 0; i < cycles; ++i) {
        ::RegisterTypeLib(library.get(), path.data(), noHelp);
        if (unregister)
            ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                attr->syskind);
    }
    const int left = CurrentResourceUse().kernelHandles - before;
    library->ReleaseTLibAttr(attr);
    return left;
}

// The slack a long run may end with: a handle or object the platform caches
// on first use, and heap pages the allocator keeps. A leak of one handle or
// object per cycle exceeds it within a handful of cycles, and one of 175
// bytes per cycle within 3,000.
struct Slack {
    int handles = 4;
    int gdiObjects = 2;
    int userObjects = 2;
    std::int64_t privateBytes = 512 * 1024;
};

inline ::testing::AssertionResult
EndsWhereItBegan(const ResourceUse& before, const ResourceUse& after, const Slack& slack = {}) {
    const bool ok = after.kernelHandles <= before.kernelHandles + slack.handles &&
                    after.gdiObjects <= before.gdiObjects + slack.gdiObjects &&
                    after.userObjects <= before.userObjects + slack.userObjects &&
                    after.privateBytes <= before.privateBytes + slack.privateBytes;
    auto result = ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    return result << "handles " << before.kernelHandles << " -> " << after.kernelHandles << ", GDI "
                  << before.gdiObjects << " -> " << after.gdiObjects << ", USER "
                  << before.userObjects << " -> " << after.userObjects << ", private bytes "
                  << before.privateBytes << " -> " << after.privateBytes;
}

} // namespace vandrel::test
