# The time export read by a real chronyd (Debian's chrony): gps-sim -> tavro run -> the NTP
# shared-memory unit -> chronyd -x (which never touches the clock). Skipped (77) without chrony.
if(WIN32 OR NOT TARGET tavro OR NOT TARGET gps-sim)
    return()
endif()
add_test(NAME TimeExportChrony
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/chrony_shm_test.py
            $<TARGET_FILE:tavro> $<TARGET_FILE:gps-sim>)
set_tests_properties(TimeExportChrony PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
