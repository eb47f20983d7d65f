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
    }
    // Raised outside the catch block: the host's runtime takes over from here.
    RaiseToHost(failure);
}
