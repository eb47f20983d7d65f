// A service (test_service.h) that reports running until it is stopped.
#include "system/handles.h"

SERVICE_STATUS_HANDLE g_status = nullptr;
const UniqueHandle g_stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));

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
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop.get(), INFINITE);
    Report(SERVICE_STOPPED);
}

int main() {
    char name[] = "";
    const SERVICE_TABLE_ENTRYA services[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(services) ? 0 : 1;
}
