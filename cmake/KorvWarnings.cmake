# Warnings for our own code, treated as errors. Third-party code never sees these flags.
add_library(korv_warnings INTERFACE)
if(MSVC)
    target_compile_options(korv_warnings INTERFACE /W4 /WX /permissive-)
else()
    target_compile_options(korv_warnings INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
        -Wimplicit-fallthrough -Wcast-align -Wnull-dereference -Werror)
endif()

# One static library per source directory; sources are picked up by glob so that adding a unit needs no
# build-file edit.
function(korv_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${name} STATIC ${sources})
    set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
    # Headers are included by their path in the tree ("sfnt/SfntFont.h"); installed, they keep those paths
    # under include/korv. The warnings are our build's own and never reach an installed library's users.
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                                              $<INSTALL_INTERFACE:include/korv>)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE $<BUILD_INTERFACE:korv_warnings>)
endfunction()
