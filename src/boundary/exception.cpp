#include "boundary/exception.h"

#include <new>

#include "boundary/host_object.h"
#include "boundary/outputstr.h"

namespace {
constexpr const char* kTypeName = "QndException";
}

CQndException::CQndException(const outputstr& reason, int32_t reasonCode, const char* sourceFile,
                             int32_t sourceLine, const char* typeName)
    : Reason(reason),
      ReasonCode(reasonCode),
      SourceFile(sourceFile),
      SourceLine(sourceLine),
      TypeName(typeName) {}

// Members are destroyed in reverse order, which frees TypeName, SourceFile, then Reason.
CQndException::~CQndException() = default;

void* CQndException::DeletingDestructor(unsigned int flags) { return DestroyHostObject(this, flags); }

void CQndException::Delete() { DeletingDestructor(LINKSET_DELETE_MEMORY); }

void DeleteQndException(CQndException* exception) {
    if (exception != nullptr) exception->Delete();
}

outputstr CQndException::GetErrorText() const {
    return outputstr() + "=======EXCEPTION: " + TypeName + " ==== " + "\nReason Code: " +
           static_cast<int>(ReasonCode) + ", Reason:" + Reason;
}

CQndException* CreateQndException(const outputstr& reason, const char* sourceFile, int sourceLine) {
    return new (std::nothrow) CQndException(reason, 0, sourceFile, sourceLine, kTypeName);
}
