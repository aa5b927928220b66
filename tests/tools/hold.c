/* Keeps one program alive in the test prefix for a whole run, so that Wine's
   own services start once instead of once per test (and never hold a test's
   output open). Ended by stopping the prefix's server. */
#include <windows.h>

int main(void) {
    Sleep(INFINITE);
    return 0;
}
