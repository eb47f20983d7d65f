// Does nothing until killed: NamedProcess starts copies of it under the names a test needs.
#include <windows.h>

int main() { Sleep(INFINITE); }
