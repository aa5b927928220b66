// A structural check of a type library image before the platform loads it.
//
// Wine's loader stops the process with a breakpoint when a library in the
// MSFT layout points past its own end (any truncated library does: a file of
// just "MSFT", or one cut inside its records), and follows every list of
// custom data until a link is negative, allocating at each: a list that runs in
// a circle never ends, and no guard can stop that. The check makes the
// loader's reads itself, in one pass: the header, the segment directory,
// every type info, its function and variable records with their parameters,
// its implemented interfaces, and the custom data of each of them. It
// refuses an image where one of those lies past the end, and one that would
// make the loader read far more than the file holds (a circle, or records
// and lists shared many times over). It cannot prove a library sound; it
// proves that loading it ends.
#pragma once

#include "registrar/RegistrarPlatform.h"

#include <windows.h>

#include <cstddef>
#include <string>

namespace vandrel {

// False when `image` is an MSFT-layout library that ends before one of its
// parts does, or whose loading would not end. Images in any other layout
// pass: the loader refuses them itself.
bool TypeLibImageIsWhole(const BYTE* image, size_t size);

// The same for the image the loader would read from a file: the file itself,
// or for a module its TYPELIB resource `index` (ResolveLoadablePath has taken
// "x.dll\N" apart). Anything that cannot be opened passes, so that the loader
// reports it as it always has; an image whose reading faults (a resource the
// file does not hold) fails.
bool TypeLibFileIsWhole(const RegistrarPlatform& platform, const std::wstring& file, WORD index);

} // namespace vandrel
