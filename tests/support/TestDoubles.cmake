# Test doubles: small DLLs that stand in for a system library a test must control. Each lands
# in a folder of its own, ${LINKSET_TEST_DOUBLES_DIR}/<name>/<dll name>, so it never shadows the
# real library for other tests. An .rc file among the sources gives it a version resource.
#
#   linkset_test_double(<name> DLL <file name without .dll> SOURCES <sources...> [DEF <file.def>])
set(LINKSET_TEST_DOUBLES_DIR ${CMAKE_BINARY_DIR}/bin/doubles)

function(linkset_test_double name)
    cmake_parse_arguments(ARG "" "DLL;DEF" "SOURCES" ${ARGN})
    add_library(${name} SHARED ${ARG_SOURCES} ${ARG_DEF})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
    set_target_properties(${name} PROPERTIES
        PREFIX "" OUTPUT_NAME ${ARG_DLL}
        RUNTIME_OUTPUT_DIRECTORY ${LINKSET_TEST_DOUBLES_DIR}/${name}
        IMPORT_PREFIX "" IMPORT_SUFFIX ".double-implib.a"
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/doubles/${name})
    linkset_warnings(${name})
endfunction()

# The folder a double's DLL lands in, for tests that need its path.
function(linkset_test_double_dir name out)
    set(${out} ${LINKSET_TEST_DOUBLES_DIR}/${name} PARENT_SCOPE)
endfunction()
