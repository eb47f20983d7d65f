#include "test_service.h"

#include <stdexcept>

#include "child_process.h"

namespace {

constexpr char kServiceProgram[] = "idle_service.exe";
constexpr DWORD kBoundMs = 20000;  // a service that takes this long is not coming
constexpr DWORD kPollMs = 20;

DWORD StateOf(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
    for (DWORD waited = 0; StateOf(service) != state; waited += kPollMs) {
        if (waited >= kBoundMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

// Stops the service, or ends its process when it does not stop (one still starting), then
// deletes it; it goes for good once the caller's handle closes.
void Remove(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (!WaitForState(service, SERVICE_STOPPED)) {
        SERVICE_STATUS_PROCESS process = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process,
                                 &needed)) {
            const UniqueHandle running(OpenProcess(PROCESS_TERMINATE, FALSE, process.dwProcessId));
            if (running) TerminateProcess(running.get(), 0);
        }
        WaitForState(service, SERVICE_STOPPED);
    }
    DeleteService(service);
}

}  // namespace

TestService::TestService(const std::string& name, Behaviour behaviour)
    : m_behaviour(behaviour), m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    if (!m_manager) throw std::runtime_error("cannot open the service manager");
    if (const UniqueServiceHandle left(OpenServiceA(m_manager.get(), name.c_str(), SERVICE_ALL_ACCESS)); left)
        Remove(left.get());
    const std::string command = "\"" + ThisExecutableFolder() + "\\" + kServiceProgram + "\" " +
                                (behaviour == Behaviour::Runs ? "runs" : "stays-starting");
    m_service.reset(CreateServiceA(m_manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                   command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!m_service) throw std::runtime_error("cannot create the service " + name);
}

TestService::~TestService() { Remove(m_service.get()); }

void TestService::Start() {
    const DWORD reached = m_behaviour == Behaviour::Runs ? SERVICE_RUNNING : SERVICE_START_PENDING;
    if (!StartServiceA(m_service.get(), 0, nullptr) || !WaitForState(m_service.get(), reached))
        throw std::runtime_error("the service did not start");
}

DWORD TestService::State() const { return StateOf(m_service.get()); }
