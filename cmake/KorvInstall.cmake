# The installable font object library: `cmake --install` puts its headers under include/korv (with the
# same relative paths as in the tree, so "sfnt/SfntFont.h" includes as it does here), its static libraries
# under lib, and a package configuration, so that another CMake project can write
#   find_package(korv 1.0 REQUIRED)
#   target_link_libraries(app PRIVATE korv::fonts)
# korv::fonts is the whole font object library (the sfnt and CFF layers); it needs nothing beyond the C++
# standard library.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_library(korv_fonts INTERFACE)
set_target_properties(korv_fonts PROPERTIES EXPORT_NAME fonts)
target_link_libraries(korv_fonts INTERFACE korv_cff korv_sfnt)
add_library(korv::fonts ALIAS korv_fonts)

install(TARGETS korv_fonts korv_cff korv_sfnt EXPORT korvTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korv)
foreach(dir sfnt cff)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korv/${dir}
            FILES_MATCHING PATTERN "*.h")
endforeach()

set(korv_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/korv)
install(EXPORT korvTargets NAMESPACE korv:: DESTINATION ${korv_config_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/korvConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/korvConfig.cmake INSTALL_DESTINATION ${korv_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/korvConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/korvConfig.cmake ${PROJECT_BINARY_DIR}/korvConfigVersion.cmake
        DESTINATION ${korv_config_dir})
