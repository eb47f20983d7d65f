// NetScreen's event library (double_support.h), exporting 32-bit stdcall names or plain ones.
#include "double_support.h"

#ifdef PLAIN_NAMES
#define NAMED(decorated, plain) __asm__(plain)
#else
#define NAMED(decorated, plain) __asm__(decorated)
#endif

using IkeCallback = uint32_t (*)(uint32_t code);
IkeCallback g_callback = nullptr;

extern "C" {
__declspec(dllexport) uint32_t Register(IkeCallback, uint32_t, const char*)
    NAMED("_RegisterForIKEEvent@12", "RegisterForIKEEvent");
#ifndef WITHOUT_UNREGISTER
__declspec(dllexport) uint32_t Unregister(uint32_t, const char*)
    NAMED("_UnRegisterFromIKEEvent@8", "UnRegisterFromIKEEvent");
#endif
__declspec(dllexport) uint32_t Version(uint32_t*, uint32_t*) NAMED("_GetEventAPIVersion@8", "GetEventAPIVersion");

uint32_t Register(IkeCallback callback, uint32_t classes, const char* filter) {
    NoteCall(kCmonCalls, "register " + std::to_string(classes) + " " + filter);
    g_callback = callback;
    return EnvironmentText(kCmonSteering) != "refuse";
}
uint32_t Unregister(uint32_t classes, const char* filter) {
    NoteCall(kCmonCalls, "unregister " + std::to_string(classes) + " " + filter);
    return 1;
}
uint32_t Version(uint32_t* version, uint32_t* revision) {
    NoteCall(kCmonCalls, "version");
    *version = EnvironmentText(kCmonSteering) != "version 0";
    *revision = 0;
    return 1;
}

__declspec(dllexport) uint32_t RaiseIkeEvent(uint32_t code) {
    uint32_t answer = 0;
    TestThread([&] { answer = g_callback(code); }).Join();
    return answer;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH)
        NoteCall(kCmonCalls, reason == DLL_PROCESS_ATTACH ? "load" : "free");
    return ReleaseRuntimeAtUnload(reason);
}
}  // extern "C"
