# `tavro find` against gps-sim and a silent pseudo-terminal in a private COM directory.
if(WIN32 OR NOT TARGET tavro OR NOT TARGET gps-sim)
    return()
endif()
tavro_add_gtest(tavro_posix_find_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PosixFindTest.cpp
    LIBS)
target_compile_definitions(tavro_posix_find_tests PRIVATE
    TAVRO_PATH="$<TARGET_FILE:tavro>"
    GPS_SIM_PATH="$<TARGET_FILE:gps-sim>")
add_dependencies(tavro_posix_find_tests tavro gps-sim)
