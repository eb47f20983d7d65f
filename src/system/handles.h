// Owners for every kind of system resource the library opens: handles, registry keys, loaded
// libraries, service handles and process-heap blocks. Whatever path a function leaves by, the
// owner closes what it holds, so no function closes by hand.
#pragma once

#include <windows.h>

#include <cstddef>
#include <utility>

template <class Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept : m_value(Traits::Invalid()) {}
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    Type get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::Invalid(); }

    Type release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) noexcept {
        const Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For functions that answer the resource through an out-parameter.
    Type* put() noexcept {
        reset();
        return &m_value;
    }

private:
    Type m_value;
};

// Kernel objects whose "none" is null: events, threads, processes, tokens.
struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { CloseHandle(handle); }
};
// Kernel objects whose "none" is INVALID_HANDLE_VALUE: files and tool-help snapshots.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { CloseHandle(handle); }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type key) noexcept { RegCloseKey(key); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type module) noexcept { FreeLibrary(module); }
};
struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type service) noexcept { CloseServiceHandle(service); }
};
struct HeapBlockTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueKey = UniqueResource<RegistryKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
using UniqueHeapBlock = UniqueResource<HeapBlockTraits>;

// A zero-filled block of the process heap; empty when there is no memory.
inline UniqueHeapBlock HeapAllocZeroed(std::size_t size) {
    return UniqueHeapBlock(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
}

// An entry point of a loaded library as the function type the caller declares for it; null
// when the library lacks it.
template <class Function>
Function ResolveEntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
