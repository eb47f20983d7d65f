// A process that does nothing until it is killed, started under chosen names by the tests that
// look for running processes.
#include <windows.h>

int main() {
    Sleep(INFINITE);
    return 0;
}
