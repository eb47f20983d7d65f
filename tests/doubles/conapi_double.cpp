// SafeNet's rule library (double_support.h); notes a foreign session or an unzeroed initialisation.
#include "double_support.h"

namespace {

char g_session;
std::size_t g_nextRule = 0;

std::string Steering(bool failing) {
    const std::string steering = EnvironmentText(kConApiSteering);
    const std::size_t slash = steering.find('/');
    return failing ? (slash == std::string::npos ? "" : steering.substr(slash + 1)) : steering.substr(0, slash);
}
int32_t Noted(void* session, const char* call, int32_t answer) {
    NoteCall(kConApiCalls, session == &g_session ? call : "wrong-session");
    return answer;
}
int32_t ReadRule(unsigned char* rule) {
    const std::string rules = Steering(false);
    if (g_nextRule >= rules.size()) return 1;
    rule[256] = static_cast<unsigned char>(rules[g_nextRule++] - '0');
    return 0;
}

}  // namespace

extern "C" {
__declspec(dllexport) int32_t ConAPI_Initialize(void** session) {
    NoteCall(kConApiCalls, *session == nullptr ? "I" : "unzeroed");
    if (Steering(true) == "I") return 1;
    *session = &g_session;
    return 0;
}
__declspec(dllexport) int32_t ConAPI_StartStatServer(void* session, int32_t stopping) {
    return Noted(session, stopping ? "S1" : "S0", !stopping && Steering(true) == "S");
}
__declspec(dllexport) int32_t ConAPI_GetRuleData(void* session, unsigned char* rule) {
    g_nextRule = 0;
    return Noted(session, "R", ReadRule(rule));
}
__declspec(dllexport) int32_t ConAPI_GetNextRuleData(void* session, unsigned char* rule) {
    return Noted(session, "N", ReadRule(rule));
}
__declspec(dllexport) int32_t ConAPI_Close(void* session) { return Noted(session, "C", 0); }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) { return ReleaseRuntimeAtUnload(reason); }

}  // extern "C"
