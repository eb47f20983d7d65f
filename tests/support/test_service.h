// A service of the private prefix's service manager that a test owns for its scope: created with
// CreateServiceA from the idle service program (idle_service.cpp, beside this executable) under a
// chosen name, stopped, and created on demand start; stopped (or ended) and deleted again when the
// object goes. A service of that name left behind by a run that died is replaced.
#pragma once

#include <windows.h>

#include <string>

#include "system/handles.h"

class TestService {
public:
    enum class Behaviour { Runs, StaysStarting };

    // Throws std::runtime_error when the service cannot be created.
    TestService(const std::string& name, Behaviour behaviour);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Starts it and waits until it reports the state its behaviour reaches; throws if it does not.
    void Start();
    // The state the service manager reports (SERVICE_STOPPED, SERVICE_RUNNING, ...).
    DWORD State() const;

private:
    Behaviour m_behaviour;
    UniqueServiceHandle m_manager;
    UniqueServiceHandle m_service;
};
