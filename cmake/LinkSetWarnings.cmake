# LinkSet's own code builds clean at -Wall -Wextra.
function(linkset_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(LINKSET_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
