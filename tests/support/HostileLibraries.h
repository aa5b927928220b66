// Files that hurt the platform's type library loader (Wine 8's oleaut32)
// without being cut short: each one's header and segment directory lie
// inside it, so no size check refuses it, and the harm comes from where the
// loader is sent. Made byte for byte in code, the same every time, for the
// tests of whatever loads libraries at arm's length.
#pragma once

#include <string>

namespace vandrel::test {

// A library in the older SLTG layout whose chain of blocks names itself as
// its own successor: the loader walks that chain for ever at full speed,
// reading and never allocating.
std::string SpinningSltg();

// A library in the MSFT layout whose own custom data is a list that leads
// back to itself: the loader allocates an entry at every link, without end.
std::string RunawayAllocation();

// A library in the MSFT layout whose one type is an alias of a type
// description the library does not have: the loader reads through a null
// table and faults while loading.
std::string CrashingLibrary();

// A 16-bit (NE) module carrying `typeLibrary` as its TYPELIB resource 1, as
// the loader finds it when the module is no 32- or 64-bit image.
std::string NeModule(const std::string& typeLibrary);

// `bytes` in the SZDD form that the platform's LZ expansion reads back
// transparently (every byte a literal: nothing is actually compressed).
std::string Szdd(const std::string& bytes);

} // namespace vandrel::test
