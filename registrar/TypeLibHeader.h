// A structural check of a type library image before the platform loads it.
//
// Wine's loader stops the process with a breakpoint when a library in the
// MSFT layout points past its own end (any truncated library does: a file of
// just "MSFT", or one cut inside its records). The check walks only what the
// loader seeks to first: the header, the type-info offsets, the segment
// directory, the segments and each type's member records. It cannot prove a
// library sound inside its segments; it proves that none of those ends early.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace vandrel {

// False when `image` is an MSFT-layout library that ends before one of its
// parts does. Images in any other layout pass: the loader refuses them itself.
bool TypeLibImageIsWhole(const BYTE* image, size_t size);

// The same for the image the loader would read from a file: the file itself,
// or for a module its TYPELIB resource `index` (ResolveLoadablePath has taken
// "x.dll\N" apart). Anything that cannot be opened passes, so that the loader
// reports it as it always has; an image whose reading faults (a resource the
// file does not hold) fails.
bool TypeLibFileIsWhole(const std::wstring& file, WORD index);

} // namespace vandrel
