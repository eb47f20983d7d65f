// A double with nothing but an export and a version resource.
extern "C" __declspec(dllexport) int ProbeAnswer() { return 42; }
