// LinkSet SDK: everything a host needs to load LinkSet.dll, learn the machine's network ports
// and ask which VPN clients have a tunnel up.
// C++17 hosts may use <linkset/linkset.hpp> instead: owning handles, vectors and exceptions over this interface.
#pragma once

#include "exception.h"
#include "manager.h"
#include "outputstr.h"
#include "port_info.h"

// The interface version the library reports; a host built against this or an older version
// is accepted by LsIsGoodVersion.
#define LINKSET_INTERFACE_VERSION 0x01000410ul

unsigned long LsGetVersion();
long LsIsGoodVersion(unsigned long version);  // 1 accepted, 0 refused

// The library keeps the pointer, never the object: keep the log alive while any library thread
// may still write to it. Null switches output off.
void LsSetDebugOutput(IDebugLog* log);
void LsSetEventOutput(void (*callback)(__QEL_EVENT_LOG, void*));

// Throws CQndException* when the maintenance thread cannot be started.
ILinkSetManager* LsCreateLinkSetManager();
void LsDeleteLinkSetManager(ILinkSetManager* manager);  // null does nothing

ILinkSetManagerInstaller* LsCreateLinkSetManagerInstaller(const char* unused1, const char* unused2);
void LsDeleteLinkSetManagerInstaller(ILinkSetManagerInstaller* installer);  // null does nothing

void QsNetInstallVPNDetectorPlugIn(EPLUGINTYPE type);
void QsNetUninstallVPNDetectorPlugIn(EPLUGINTYPE type);
