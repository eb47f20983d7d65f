# `cmake --install` gives a host everything it needs: include/, lib/ (both import libraries),
# bin/ (LinkSet.dll and linkset.exe), a CMake package found with find_package(LinkSet), and the
# licence.
include(CMakePackageConfigHelpers)

install(TARGETS LinkSet RUNTIME DESTINATION bin)
install(TARGETS linkset RUNTIME DESTINATION bin)
install(DIRECTORY include/linkset DESTINATION include)
install(FILES ${LINKSET_MSVC_IMPLIB} ${LINKSET_GNU_IMPLIB} DESTINATION lib)
install(FILES LICENSE DESTINATION share/doc/LinkSet)

configure_package_config_file(cmake/LinkSetConfig.cmake.in ${CMAKE_BINARY_DIR}/LinkSetConfig.cmake
    INSTALL_DESTINATION lib/cmake/LinkSet)
# Not filtered by pointer size here: LinkSetConfig.cmake explains a wrong target itself.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/LinkSetConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/LinkSetConfig.cmake ${CMAKE_BINARY_DIR}/LinkSetConfigVersion.cmake
    DESTINATION lib/cmake/LinkSet)
