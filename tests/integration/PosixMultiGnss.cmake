# Multi-constellation receivers end to end: recordings played by gps-sim into `tavro run`, and
# `tavro find` against gps-sim tracking several constellations.
if(WIN32 OR NOT TARGET tavro OR NOT TARGET gps-sim OR NOT TARGET tavro_test_client)
    return()
endif()
tavro_add_gtest(tavro_posix_multi_gnss_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PosixMultiGnssTest.cpp
    LIBS)
target_compile_definitions(tavro_posix_multi_gnss_tests PRIVATE
    TAVRO_PATH="$<TARGET_FILE:tavro>"
    GPS_SIM_PATH="$<TARGET_FILE:gps-sim>"
    TEST_CLIENT_PATH="$<TARGET_FILE:tavro_test_client>")
add_dependencies(tavro_posix_multi_gnss_tests tavro gps-sim tavro_test_client)
