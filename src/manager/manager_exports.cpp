// The exported factory of the manager. Its delete function is the installer's: both objects are
// destroyed through slot 0.
#include <linkset/linkset.h>

#include <new>

#include "boundary/host_exception.h"
#include "manager/LinkSetMgr.h"

ILinkSetManager* LsCreateLinkSetManager() {
    CQndException* failure = nullptr;
    try {
        return new (std::nothrow) CLinkSetManager;
    } catch (CQndException* exception) {
        failure = exception;
    } catch (const std::bad_alloc&) {
    }
    // Raised outside the catch blocks, once the half-built manager has been released: the
    // host's runtime takes over from here.
    if (failure == nullptr) RaiseAllocationFailureToHost();
    RaiseToHost(failure);
}
