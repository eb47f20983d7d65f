// A service of the private prefix's service manager that a test owns for its scope: created
// stopped under a chosen name from the idle service program beside this executable
// (idle_service.cpp), and gone again when the object goes. A service of that name left behind
// by a run that died is replaced.
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
        : m_name(name), m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        Remove(name);
        const std::string command = "\"" + ThisExecutableFolder() + "\\idle_service.exe\" " +
                                    (behaviour == Behaviour::Runs ? "runs" : "stays-starting");
        m_service.reset(CreateServiceA(m_manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!m_service) throw std::runtime_error("cannot create the service " + name);
    }
    ~TestService() {
        m_service.reset();
        Remove(m_name);
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Starts it and waits until it runs.
    void Start() {
        if (!StartServiceA(m_service.get(), 0, nullptr) || !WaitFor(m_service.get(), SERVICE_RUNNING))
            throw std::runtime_error("the service did not start");
    }
    DWORD State() const { return StateOf(m_service.get()); }  // SERVICE_STOPPED, SERVICE_RUNNING, ...
    // What the configuration stores as the program (and load-order group); a running service runs on.
    void SetProgramPath(const std::string& path, const std::string& loadOrderGroup = "") {
        if (!ChangeServiceConfigA(m_service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, path.c_str(),
                                  loadOrderGroup.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr))
            throw std::runtime_error("cannot reconfigure the service");
    }

    // Makes sure no service of that name is left: stopped (one still starting takes the request
    // too), deleted, and gone from the service manager before this returns.
    static void Remove(const std::string& name) {
        const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        for (int polls = 0; polls < 1000; ++polls, Sleep(20)) {  // 20 s at most
            const UniqueServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
            if (!service) return;
            SERVICE_STATUS status = {};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            DeleteService(service.get());
        }
    }

private:
    static DWORD StateOf(SC_HANDLE service) {
        SERVICE_STATUS status = {};
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }
    static bool WaitFor(SC_HANDLE service, DWORD state) {
        for (int polls = 0; StateOf(service) != state && polls < 1000; ++polls) Sleep(20);  // 20 s at most
        return StateOf(service) == state;
    }
    std::string m_name;
    UniqueServiceHandle m_manager, m_service;
};
