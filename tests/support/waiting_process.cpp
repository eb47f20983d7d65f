// A program that does nothing until it is killed: NamedProcess starts copies of it under the
// names of the processes a test needs to be running.
#include <windows.h>

int main() {
    Sleep(INFINITE);
    return 0;
}
