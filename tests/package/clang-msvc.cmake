# Clang in MSVC mode: Visual Studio's ABI without Microsoft's headers and libraries (libc++'s and
# MinGW-w64's headers, import libraries for Wine's msvcrt.dll and kernel32.dll, msvc_runtime.cpp).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)  # a test program would have no runtime yet

# MinGW-w64's headers want GNU attributes and a __declspec macro; libc++, no vcruntime headers.
set(flags "-nostdinc++ -isystem /usr/include/c++/v1 -isystem /usr/x86_64-w64-mingw32/include -fgnuc-version=12"
    "'-D__declspec(x)=__declspec(x)' -D_CRTIMP= -D__USE_MINGW_ANSI_STDIO=0 -D_LIBCPP_NO_VCRUNTIME"
    "-D_LIBCPP_DISABLE_EXTERN_TEMPLATE -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS -D_LIBCPP_NO_AUTO_LINK"
    "-fno-aligned-allocation -fno-sized-deallocation")
string(JOIN " " CMAKE_CXX_FLAGS_INIT ${flags})

set(runtime ${CMAKE_BINARY_DIR}/msvc-runtime)
set(msvcrt abort atexit exit free malloc memchr memcmp memcpy memmove memset strcmp strlen printf fprintf fputs fwrite
    puts __iob_func __getmainargs __set_app_type _CxxThrowException __CxxFrameHandler3 _purecall cosh exp frexp hypot
    ldexp pow sinh tanh ??2@YAPEAX_K@Z ??3@YAXPEAX@Z ??_U@YAPEAX_K@Z ??_V@YAXPEAX@Z)
set(kernel32 Sleep GetTickCount64)
if(NOT EXISTS ${runtime}/msvc_runtime.obj)
    foreach(dll msvcrt kernel32)
        list(JOIN ${dll} "\n    " exports)
        file(WRITE ${runtime}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n    ${exports}\n")
        execute_process(COMMAND llvm-dlltool -m i386:x86-64 -d ${runtime}/${dll}.def -l ${runtime}/${dll}.lib
                        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    separate_arguments(compile UNIX_COMMAND "${CMAKE_CXX_FLAGS_INIT}")
    execute_process(COMMAND clang++ --target=x86_64-pc-windows-msvc -std=c++17 ${compile} -O1
                            -c ${CMAKE_CURRENT_LIST_DIR}/msvc_runtime.cpp -o ${runtime}/msvc_runtime.obj
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib -Wno-unused-command-line-argument")
set(CMAKE_CXX_STANDARD_LIBRARIES
    "${runtime}/msvc_runtime.obj ${runtime}/msvcrt.lib ${runtime}/kernel32.lib")
