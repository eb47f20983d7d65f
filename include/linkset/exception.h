// The library's exception: thrown and caught as a pointer (CQndException*).
//
// A host that catches one reads its fields or GetErrorText's report, then disposes of it
// through Delete (slot 1); it never deletes it itself.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "abi.h"
#include "outputstr.h"

// Not final: a GCC-built host must call Delete through the table, never by its name.
class CQndException {
public:
#if LINKSET_MSVC_ABI
    virtual ~CQndException();
#else
    virtual void* DeletingDestructor(unsigned int flags);  // slot 0
#endif
    virtual void Delete();  // slot 1: destroys and frees the object; null does nothing

    outputstr Reason;
    int32_t ReasonCode;
    outputstr SourceFile;
    int32_t SourceLine;
    outputstr TypeName;  // always "QndException"

    // The library's own members (not exported).
    CQndException(const outputstr& reason, int32_t reasonCode, const char* sourceFile,
                  int32_t sourceLine, const char* typeName);
#if !LINKSET_MSVC_ABI
    ~CQndException();
#endif
    outputstr GetErrorText() const;
};

LINKSET_LAYOUT_CHECKS_BEGIN
static_assert(sizeof(CQndException) == 72, "CQndException is 72 bytes");
static_assert(offsetof(CQndException, Reason) == 8, "CQndException::Reason");
static_assert(offsetof(CQndException, ReasonCode) == 24, "CQndException::ReasonCode");
static_assert(offsetof(CQndException, SourceFile) == 32, "CQndException::SourceFile");
static_assert(offsetof(CQndException, SourceLine) == 48, "CQndException::SourceLine");
static_assert(offsetof(CQndException, TypeName) == 56, "CQndException::TypeName");
LINKSET_LAYOUT_CHECKS_END
