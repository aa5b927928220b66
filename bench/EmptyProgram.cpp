// An empty program: what one process start costs, for comparison with what
// Vandrel adds to the floor (its worker is one more start).
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
