// A service that does nothing, for tests that need a real service under a chosen name
// (test_service.h). Its argument says how far it gets: "runs" reports running, "stays-starting"
// never gets past start-pending; either way until it is stopped or ended.
#include <windows.h>

#include <cstring>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;
DWORD g_reached = SERVICE_RUNNING;

void Report(DWORD state) {
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, NO_ERROR, 0, 0, 0};
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) SetEvent(g_stop);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
    g_status = RegisterServiceCtrlHandlerExA("", &Control, nullptr);
    Report(g_reached);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "stays-starting") == 0) g_reached = SERVICE_START_PENDING;
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char name[] = "";
    const SERVICE_TABLE_ENTRYA services[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(services) ? 0 : 1;
}
