# Clang in MSVC mode: Visual Studio's ABI with libc++'s and MinGW-w64's headers instead of Microsoft's.
# There is no Microsoft runtime to link with here, so projects built with it are compiled, not linked.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# MinGW-w64's headers want GNU attributes and a __declspec macro; libc++, no vcruntime headers.
set(flags "-nostdinc++ -isystem /usr/include/c++/v1 -isystem /usr/x86_64-w64-mingw32/include -fgnuc-version=12"
    "'-D__declspec(x)=__declspec(x)' -D_CRTIMP= -D__USE_MINGW_ANSI_STDIO=0 -D_LIBCPP_NO_VCRUNTIME"
    "-D_LIBCPP_DISABLE_EXTERN_TEMPLATE -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS -D_LIBCPP_NO_AUTO_LINK")
string(JOIN " " CMAKE_CXX_FLAGS_INIT ${flags})
