// The registry views as the registration's entries name them.
#pragma once

#include <windows.h>

namespace vandrel {

// A view as the platform's calls take it (0: the process's own) named
// absolutely, as RegistryEntry names it; and back.
REGSAM NamedView(REGSAM view);
REGSAM CallView(REGSAM named);

} // namespace vandrel
