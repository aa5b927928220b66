#include "shell/frmMain.h"

namespace vandrel {

int RunMainWindow() { return 0; }

} // namespace vandrel
