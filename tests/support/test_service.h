// A service of the private prefix's service manager that a test owns for its scope: created
// stopped under a chosen name from the idle service program beside this executable
// (idle_service.cpp), stopped and deleted when the object goes. A service of that name left
// behind by a run that died is replaced.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "child_process.h"
#include "system/handles.h"

class TestService {
public:
    enum class Behaviour { Runs, StaysStarting };  // how far it gets once started

    TestService(const std::string& name, Behaviour behaviour)
        : m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        if (const UniqueServiceHandle left(OpenServiceA(m_manager.get(), name.c_str(), SERVICE_ALL_ACCESS)); left)
            Remove(left.get());
        const std::string command = "\"" + ThisExecutableFolder() + "\\idle_service.exe\" " +
                                    (behaviour == Behaviour::Runs ? "runs" : "stays-starting");
        m_service.reset(CreateServiceA(m_manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!m_service) throw std::runtime_error("cannot create the service " + name);
    }
    ~TestService() { Remove(m_service.get()); }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Starts it and waits until it runs.
    void Start() {
        if (!StartServiceA(m_service.get(), 0, nullptr) || !WaitFor(m_service.get(), SERVICE_RUNNING))
            throw std::runtime_error("the service did not start");
    }
    DWORD State() const { return StateOf(m_service.get()); }  // SERVICE_STOPPED, SERVICE_RUNNING, ...

private:
    static DWORD StateOf(SC_HANDLE service) {
        SERVICE_STATUS status = {};
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }
    static bool WaitFor(SC_HANDLE service, DWORD state) {
        for (int polls = 0; StateOf(service) != state && polls < 1000; ++polls) Sleep(20);  // 20 s at most
        return StateOf(service) == state;
    }
    // Also a service still starting takes the stop request; it goes once the last handle closes.
    static void Remove(SC_HANDLE service) {
        SERVICE_STATUS status = {};
        if (ControlService(service, SERVICE_CONTROL_STOP, &status)) WaitFor(service, SERVICE_STOPPED);
        DeleteService(service);
    }

    UniqueServiceHandle m_manager, m_service;
};
