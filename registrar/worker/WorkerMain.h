// The worker's start: the same executable as Vandrel, started by Vandrel
// with the worker's argument (WorkerProtocol.h) and one inherited pipe.
#pragma once

#include <string>

namespace vandrel {

// Whether the argument text is the one Vandrel starts its worker with.
bool IsWorkerArguments(const std::wstring& arguments);

// Serves requests from the pipe until Vandrel closes it; the exit status.
int RunWorker(const std::wstring& arguments);

} // namespace vandrel
