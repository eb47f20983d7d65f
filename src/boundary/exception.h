// Internal side of CQndException: the factory used at the library's raising sites.
#pragma once

#include <linkset/exception.h>

// A new exception with reason code 0 and type name "QndException"; null if the allocator
// gives null. Whoever catches the pointer reports GetErrorText() and calls Delete().
CQndException* CreateQndException(const outputstr& reason, const char* sourceFile, int sourceLine);

// Disposes of a caught exception; a null pointer (a failed allocation at the raising site) is
// accepted.
void DeleteQndException(CQndException* exception);
