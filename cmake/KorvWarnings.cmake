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
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE korv_warnings)
endfunction()
