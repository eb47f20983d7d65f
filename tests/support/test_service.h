// A service of idle_service.exe under a chosen name for a scope, replacing one a dead run left.
#pragma once

#include "child_process.h"

class TestService {
public:
    enum class Behaviour { Runs };  // once started, it runs until stopped

    TestService(const std::string& name, Behaviour)
        : m_name(name), m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        Remove(name);
        const std::string command = "\"" + ThisExecutableFolder() + "\\idle_service.exe\"";
        m_service.reset(CreateServiceA(m_manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!m_service) throw std::runtime_error("cannot create the service " + name);
    }
    ~TestService() {
        m_service.reset();
        Remove(m_name);
    }

    void Start() {  // and waits (20 s at most) until it runs
        if (!StartServiceA(m_service.get(), 0, nullptr)) throw std::runtime_error("cannot start the service");
        for (int polls = 0; State() != SERVICE_RUNNING; ++polls, Sleep(20))
            if (polls == 1000) throw std::runtime_error("the service did not start");
    }
    DWORD State() const {
        SERVICE_STATUS status = {};
        return QueryServiceStatus(m_service.get(), &status) ? status.dwCurrentState : 0;
    }
    // What the configuration stores as the program (and group); a running service runs on.
    void SetProgramPath(const std::string& path, const std::string& loadOrderGroup = "") {
        if (!ChangeServiceConfigA(m_service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  path.c_str(), loadOrderGroup.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr))
            throw std::runtime_error("cannot reconfigure the service");
    }

    // Stops and deletes the service of that name; returns once the manager lets it go (20 s at most).
    static void Remove(const std::string& name) {
        const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        for (int polls = 0; polls < 1000; ++polls, Sleep(20)) {
            const UniqueServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
            if (!service) return;
            SERVICE_STATUS status = {};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            DeleteService(service.get());
        }
    }

private:
    std::string m_name;
    UniqueServiceHandle m_manager, m_service;
};
