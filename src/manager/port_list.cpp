#include "manager/port_list.h"

#include <cstring>
#include <new>

#include "manager/port_info.h"

namespace {

bool NamesSameDialUpPort(const PORT_INFO& existing, const PORT_INFO& port) {
    if (existing.PortType != PORT_TYPE_DIALUP) return false;
    if (existing.ConnectionName[0] != '\0') return _stricmp(existing.ConnectionName, port.ConnectionName) == 0;
    return _stricmp(existing.AdapterName, port.AdapterName) == 0;
}

bool Selected(const PORT_INFO& port, PurgeMode mode) {
    switch (mode) {
        case PurgeMode::All:
            return true;
        case PurgeMode::KeepPhoneBookEntries:
            return !IsUnconnectedPhoneBookEntry(port);
        case PurgeMode::PhoneBookEntries:
            return IsUnconnectedPhoneBookEntry(port);
    }
    return false;
}

}  // namespace

bool IsUnconnectedPhoneBookEntry(const PORT_INFO& port) {
    return port.IsDialUp != 0 && port.IpAddress == 0 && std::strcmp(port.AdapterName, kPhoneBookAdapterName) == 0;
}

void AddPort(PortList& list, const PORT_INFO& port) {
    if (port.PortType == PORT_TYPE_DIALUP) {
        for (const std::unique_ptr<PORT_INFO>& existing : list) {
            if (NamesSameDialUpPort(*existing, port)) {
                CopyPortInfo(*existing, port);
                return;
            }
        }
    }
    try {
        // A new record starts zeroed, so the bytes the copy leaves alone are defined.
        auto record = std::make_unique<PORT_INFO>();
        CopyPortInfo(*record, port);
        if (record->IsDialUp != 0)
            list.push_front(std::move(record));
        else
            list.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        // Out of memory: the port is left out of this pass; the next pass tries again.
    }
}

void PurgePorts(PortList& list, PurgeMode mode) {
    list.remove_if([mode](const std::unique_ptr<PORT_INFO>& port) { return Selected(*port, mode); });
}
