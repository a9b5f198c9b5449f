# The POSIX edition: the pseudo-terminal port set, the command socket, the logic of the tavro
# verbs, and the hub end to end with gps-sim and client processes.
if(WIN32 OR NOT TARGET tavro_posix_tools)
    return()
endif()

tavro_add_gtest(tavro_posix_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/PosixPortSetTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixCommandSocketTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixToolsTest.cpp
    LIBS tavro_posix_tools tavro_platform_system tavro_platform_testing)
