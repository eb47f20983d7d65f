// The library's exported functions that belong to no other subsystem, and the installer.
#include <linkset/linkset.h>

#include <new>

#include "boundary/debug_output.h"
#include "boundary/host_object.h"

namespace {

// Has no state and no effect; hosts of an older generation still create and delete one.
class CLinkSetManagerInstaller final : public ILinkSetManagerInstaller {
public:
    void* DeletingDestructor(unsigned int flags) override { return DestroyHostObject(this, flags); }
    int32_t PerformInstall() override { return 1; }
};

}  // namespace

unsigned long LsGetVersion() { return LINKSET_INTERFACE_VERSION; }

long LsIsGoodVersion(unsigned long version) {
    // Hosts built against this version or an older one are accepted; newer ones are refused.
    return version <= LINKSET_INTERFACE_VERSION ? 1 : 0;
}

void LsSetDebugOutput(IDebugLog* log) { g_pDebugLog.exchange(log); }

void LsSetEventOutput(void (*callback)(__QEL_EVENT_LOG, void*)) { g_pfnEventOutput = callback; }

ILinkSetManagerInstaller* LsCreateLinkSetManagerInstaller(const char*, const char*) {
    return new (std::nothrow) CLinkSetManagerInstaller;
}

// Also exported as LsDeleteLinkSetManager: both objects are destroyed through slot 0.
void LsDeleteLinkSetManagerInstaller(ILinkSetManagerInstaller* installer) {
    if (installer != nullptr) installer->DeletingDestructor(LINKSET_DELETE_MEMORY);
}

// The export table carries the standard library's lock-initialiser assignment at ordinal 1 for
// hosts that import it; like the original operator it answers its own object.
extern "C" void* LinkSetInitLocksAssign(void* self, const void*) { return self; }
