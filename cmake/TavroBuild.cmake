# Project-wide compiler settings and small helpers shared by every subsystem.

if(MSVC)
    add_compile_options(/W4 /WX /permissive-)
else()
    add_compile_options(-Wall -Wextra -Werror)
endif()

# TAVRO_SANITIZE is set by the asan, tsan and fuzz presets ("address,undefined", "thread").
set(TAVRO_SANITIZE "" CACHE STRING "Sanitizers for every target, as for -fsanitize=")
if(TAVRO_SANITIZE)
    add_compile_options(-fsanitize=${TAVRO_SANITIZE} -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${TAVRO_SANITIZE})
endif()

# Fuzz builds instrument every library for coverage; the fuzz targets add the driver.
if(TAVRO_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(WIN32 AND NOT MSVC)
    # The Windows programs must run without the mingw runtime DLLs beside them.
    add_link_options(-static-libgcc -static-libstdc++)
endif()

# Adds each listed folder that has a CMakeLists.txt, so a subsystem joins the build by
# adding its own file and nothing else has to change.
function(tavro_add_subdirectories)
    foreach(dir IN LISTS ARGN)
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# The project's version for the version resources of the Windows deliverables
# (platform/win32/VersionInfo.rc): tavro_version_resource(<.rc file> [files it includes...]).
function(tavro_version_resource script)
    set_property(SOURCE ${script} APPEND PROPERTY COMPILE_DEFINITIONS
        TAVRO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
        TAVRO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
        TAVRO_VERSION_PATCH=${PROJECT_VERSION_PATCH})
    set_property(SOURCE ${script} APPEND PROPERTY OBJECT_DEPENDS
        ${PROJECT_SOURCE_DIR}/platform/win32/VersionInfo.rc ${ARGN})
endfunction()

# The Windows programs and the x64 kernel driver (see sys/kernel) are optimised as a whole at
# link time, which drops unused code and inlines across files (the hub carries the driver in
# its own file within a fixed window). This replaces -ffunction-sections: on PE every function
# section is aligned to 16 bytes, which cost more than the linker's section collection saved.
# Every user-mode object takes part: the mingw-w64 linker's plugin mishandles an inline
# variable defined both in an optimised and in an ordinary object (i686 reports it as defined
# twice).
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
endif()

# Product code never throws; keep that honest in every product library.
function(tavro_product_target target)
    if(NOT MSVC)
        target_compile_options(${target} PRIVATE -fno-exceptions)
    endif()
    if(WIN32 AND NOT MSVC)
        # The Windows programs stay small (the hub carries the driver in its own file within a
        # fixed window): no type information, and link-time optimisation (see above). 32-bit
        # code without exceptions needs no DWARF unwind tables either; x64 keeps its unwind
        # data, which its calling convention requires of every function that is not a leaf
        # (the system walks it for exceptions raised in or through the hub's callbacks).
        target_compile_options(${target} PRIVATE -fno-rtti)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
        endif()
    endif()
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# The release the programs name with --version.
add_library(tavro_version INTERFACE)
target_compile_definitions(tavro_version INTERFACE TAVRO_VERSION="${PROJECT_VERSION}")

# nlohmann-json (Debian: nlohmann-json3-dev), header-only, for the status JSON of `tavro status`
# and the dashboard. A cross build must not search the host's include folder as a whole, so
# the library's own folder is linked into one of the build's. Product code has no exceptions:
# a misuse ends the program rather than throwing.
find_path(TAVRO_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
set(tavroJsonInclude ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${tavroJsonInclude})
file(CREATE_LINK ${TAVRO_NLOHMANN_INCLUDE}/nlohmann ${tavroJsonInclude}/nlohmann SYMBOLIC)
add_library(tavro_json INTERFACE)
target_include_directories(tavro_json SYSTEM INTERFACE ${tavroJsonInclude})
target_compile_definitions(tavro_json INTERFACE JSON_NOEXCEPTION)
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # The library's code stops GCC 12's link-time optimiser with an internal error (mingw-w64);
    # the files that use it are compiled for an ordinary link (the hub does not use it).
    target_compile_options(tavro_json INTERFACE -fno-lto)
endif()
