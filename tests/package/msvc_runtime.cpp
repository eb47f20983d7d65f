// Microsoft's static runtime, missing here: the console start-up, and libc++'s compiled part.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

extern "C" {
int __getmainargs(int* argc, char*** argv, char*** env, int expandWildcards, int* startInfo);
void __set_app_type(int type);
FILE* __acrt_iob_func(unsigned index) { return &__iob_func()[index]; }
[[noreturn]] void __std_terminate() { std::abort(); }
int _fltused = 0;  // the linker's sign that floating point is used
}
int ProgramMain(int argc, char** argv) __asm__("main");

// The compiler lists each static initialiser between these two sections' markers.
using Initializer = void (*)();
#pragma section(".CRT$XCA", read)
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XCA")) const Initializer initializersBegin = nullptr;
__declspec(allocate(".CRT$XCZ")) const Initializer initializersEnd = nullptr;

extern "C" void mainCRTStartup() {
    __set_app_type(1);  // a console program
    int argc = 0, startInfo = 0;
    char **argv = nullptr, **env = nullptr;
    __getmainargs(&argc, &argv, &env, 0, &startInfo);
    for (const Initializer* i = &initializersBegin + 1; i < &initializersEnd; ++i)
        if (*i) (*i)();
    std::exit(ProgramMain(argc, argv));  // msvcrt's exit runs what atexit registered
}

// The table that RTTI type descriptors point to; catching never calls into it.
__asm__(".section .rdata,\"dr\"\n.globl \"??_7type_info@@6B@\"\n\"??_7type_info@@6B@\":\n.quad 0\n.text\n");

namespace std {
exception::~exception() noexcept {}
const char* exception::what() const noexcept { return "std::exception"; }
bad_alloc::bad_alloc() noexcept {}
bad_alloc::~bad_alloc() noexcept {}
const char* bad_alloc::what() const noexcept { return "std::bad_alloc"; }
bad_array_new_length::bad_array_new_length() noexcept {}
bad_array_new_length::~bad_array_new_length() noexcept {}
const char* bad_array_new_length::what() const noexcept { return "bad_array_new_length"; }
// libc++ raises these with string literals only, so the text needs no copy.
__libcpp_refstring::__libcpp_refstring(const char* text) : __imp_(text) {}
__libcpp_refstring::__libcpp_refstring(const __libcpp_refstring& other) noexcept : __imp_(other.__imp_) {}
__libcpp_refstring::~__libcpp_refstring() {}
logic_error::logic_error(const char* text) : __imp_(text) {}
logic_error::logic_error(const logic_error& other) noexcept : exception(other), __imp_(other.__imp_) {}
logic_error::~logic_error() noexcept {}
const char* logic_error::what() const noexcept { return __imp_.c_str(); }
length_error::~length_error() noexcept {}
}  // namespace std
