// The main window.
#pragma once

namespace vandrel {

// Shows the main window modeless and dispatches messages until it is closed.
// Returns the process exit status of window mode. An error raised by a click
// handler leaves the loop and reaches the caller as the original exception.
int RunMainWindow();

} // namespace vandrel
