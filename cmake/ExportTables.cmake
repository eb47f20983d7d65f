# The export table (src/boundary/LinkSet.def) is the one list of exports. Each line reads
#   "<MSVC-decorated name>" = <name inside the library> @<ordinal>
# From it the build derives the module-definition files of the two import libraries:
#   LinkSet.lib (MSVC hosts):       "<decorated>" @<ordinal>
#   libLinkSet.dll.a (MinGW hosts): <GCC name> == <decorated>, so that a GCC-built host's
#                                   ordinary C++ references import the decorated names. The
#                                   GCC name is the library's own, or the one a "; hosts: <name>"
#                                   line right above gives when one function serves two names.
function(linkset_import_definitions master msvc_out gnu_out)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${master})
    # Lines hold ';' (comments), which CMake lists would split on: read them one by one.
    file(READ ${master} content)
    string(REPLACE ";" "<semicolon>" content "${content}")
    string(REPLACE "\n" ";" lines "${content}")
    set(msvc "LIBRARY LinkSet.dll\nEXPORTS\n")
    set(gnu "LIBRARY LinkSet.dll\nEXPORTS\n")
    set(host_name "")
    foreach(line IN LISTS lines)
        if(line MATCHES "hosts:[ \t]*([A-Za-z0-9_]+)")
            set(host_name "${CMAKE_MATCH_1}")
            continue()
        endif()
        if(line MATCHES "^[ \t]*\"([^\"]+)\"[ \t]*=[ \t]*([A-Za-z0-9_]+)[ \t]*@([0-9]+)")
            set(decorated "${CMAKE_MATCH_1}")
            set(internal "${CMAKE_MATCH_2}")
            if(host_name)
                set(internal "${host_name}")
                set(host_name "")
            endif()
            string(APPEND msvc "    \"${decorated}\" @${CMAKE_MATCH_3}\n")
            if(internal MATCHES "^_Z")
                string(APPEND gnu "    ${internal} == ${decorated}\n")
            endif()
        endif()
    endforeach()
    linkset_write_if_changed(${msvc_out} "${msvc}")
    linkset_write_if_changed(${gnu_out} "${gnu}")
endfunction()

# A file rewritten with the same content would still look new to the build, and everything made
# from it (the import libraries, every host linked against them) would be made again.
function(linkset_write_if_changed path content)
    if(EXISTS ${path})
        file(READ ${path} old)
        if(old STREQUAL content)
            return()
        endif()
    endif()
    file(WRITE ${path} "${content}")
endfunction()
