// A service (test_service.h) that reports running ("runs") or stays start-pending ("stays-starting") until stopped.
#include <cstring>

#include "system/handles.h"

SERVICE_STATUS_HANDLE g_status = nullptr;
const UniqueHandle g_stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
DWORD g_reached = SERVICE_RUNNING;

void Report(DWORD state) {
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, NO_ERROR, 0, 0, 0};
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) SetEvent(g_stop.get());
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
    g_status = RegisterServiceCtrlHandlerExA("", &Control, nullptr);
    Report(g_reached);
    WaitForSingleObject(g_stop.get(), INFINITE);
    Report(SERVICE_STOPPED);
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "stays-starting") == 0) g_reached = SERVICE_START_PENDING;
    char name[] = "";
    const SERVICE_TABLE_ENTRYA services[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(services) ? 0 : 1;
}
