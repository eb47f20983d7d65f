/* What Microsoft's static runtime library would give an MSVC-built host and msvcrt.dll does not
   export: the vftable that RTTI type descriptors point to (never called when catching). */
__asm__(".section .rdata,\"dr\"\n"
        ".globl \"??_7type_info@@6B@\"\n"
        "\"??_7type_info@@6B@\":\n"
        ".quad 0\n"
        ".text\n");
