// Binary contract helpers shared by every SDK header.
//
// Hosts are usually built with Microsoft's compiler, which gives a virtual destructor one slot
// (the deleting destructor, called with a flags word whose bit 0 means "free the memory too").
// GCC and Clang in MinGW mode give it two. Every class whose objects a host holds and calls
// therefore declares slot 0 explicitly for non-Microsoft compilers, so that slot N is the same
// operation whichever compiler built the host or the library.
#pragma once

#if defined(_MSC_VER)
#define LINKSET_MSVC_ABI 1
#else
#define LINKSET_MSVC_ABI 0
#endif

// Bit 0 of the flags word of a deleting destructor: free the object's memory as well.
#define LINKSET_DELETE_MEMORY 1u

#if LINKSET_MSVC_ABI
#define LINKSET_INTERFACE_SLOT0(Class) \
public:                                \
    virtual ~Class() {}
#else
// Hosts destroy these objects through the library's delete functions, never with `delete`.
#define LINKSET_INTERFACE_SLOT0(Class)                                    \
public:                                                                   \
    virtual void* DeletingDestructor(unsigned int flags) = 0;            \
                                                                          \
protected:                                                                \
    ~Class() = default;                                                   \
                                                                          \
public:
#endif

// offsetof on classes with a virtual-table pointer is what the layout checks need; both
// compilers lay such classes out the same way for the single-inheritance shapes used here.
#if defined(__GNUC__) || defined(__clang__)
#define LINKSET_LAYOUT_CHECKS_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"")
#define LINKSET_LAYOUT_CHECKS_END _Pragma("GCC diagnostic pop")
#else
#define LINKSET_LAYOUT_CHECKS_BEGIN
#define LINKSET_LAYOUT_CHECKS_END
#endif
