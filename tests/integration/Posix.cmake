# The POSIX edition: the pseudo-terminal port set, the command socket, the logic of the tavro
# verbs, and the hub end to end with gps-sim and client processes.
if(WIN32 OR NOT TARGET tavro_posix_status)
    return()
endif()

tavro_add_gtest(tavro_posix_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/PosixPortSetTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixCommandSocketTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixToolsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixStatusBlockTest.cpp
    LIBS tavro_posix_ports tavro_posix_config tavro_posix_status tavro_posix_command tavro_decode
        tavro_platform_system tavro_platform_testing)
target_compile_definitions(tavro_posix_tests PRIVATE
    TAVRO_MAN_PAGE="${PROJECT_SOURCE_DIR}/packaging/man/tavro.1")

# End to end: gps-sim -> tavro run -> client processes, the verbs, and gpsd where installed.
if(NOT TARGET tavro OR NOT TARGET gps-sim OR NOT TARGET feltro)
    return()
endif()
add_executable(tavro_test_client ${CMAKE_CURRENT_LIST_DIR}/PosixTestClient.cpp)
# Preloaded into a hub to make one of its event loop's set-up calls fail.
add_library(tavro_fail_call MODULE ${PROJECT_SOURCE_DIR}/tests/support/FailCall.c)
target_link_libraries(tavro_fail_call PRIVATE ${CMAKE_DL_LIBS})
tavro_add_gtest(tavro_posix_e2e_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/PosixHubEndToEndTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixHubServiceTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixRelayTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixNetworkTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixSourceTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PosixServiceManagerTest.cpp)
# The service manager's tests stand in for logind over sd-bus; without systemd they skip. Only
# their file is told which build this is, so the others compile the same in both.
if(TAVRO_SYSTEMD)
    target_link_libraries(tavro_posix_e2e_tests PRIVATE PkgConfig::LIBSYSTEMD)
endif()
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/PosixServiceManagerTest.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS TAVRO_SYSTEMD=$<BOOL:${TAVRO_SYSTEMD}>)
target_compile_definitions(tavro_posix_e2e_tests PRIVATE
    TAVRO_PATH="$<TARGET_FILE:tavro>"
    GPS_SIM_PATH="$<TARGET_FILE:gps-sim>"
    FELTRO_PATH="$<TARGET_FILE:feltro>"
    TEST_CLIENT_PATH="$<TARGET_FILE:tavro_test_client>"
    FAIL_CALL_PATH="$<TARGET_FILE:tavro_fail_call>")
add_dependencies(tavro_posix_e2e_tests tavro gps-sim feltro tavro_test_client tavro_fail_call)
