# Fails if code of the kernel IMAGE outside its start-up section refers into it: the loader may
# discard that section once the entry point has returned, so such a call would run freed memory.
# It checks the code as linked (after inlining, cloning and link-time optimisation), not only
# what the source marks. An image without the section passes.
# cmake -DOBJDUMP=<objdump> -DIMAGE=<file> [-DSECTION=INIT] -P TavroCheckInitCode.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT OBJDUMP OR NOT IMAGE)
    message(FATAL_ERROR "TavroCheckInitCode: OBJDUMP and IMAGE are required")
endif()
if(NOT SECTION)
    set(SECTION INIT)
endif()

execute_process(COMMAND ${OBJDUMP} -h ${IMAGE}
    OUTPUT_VARIABLE headers RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "TavroCheckInitCode: ${OBJDUMP} -h ${IMAGE} failed: ${errors}")
endif()
# "  1 INIT  000007f4  0000000140006000  ..." then a line of flags; code sections say CODE.
string(REGEX MATCHALL "[0-9]+ [^ \n]+ +[0-9a-f]+ +[0-9a-f]+[^\n]*\n[^\n]*" sections "${headers}")
set(start "")
set(others "")
foreach(entry IN LISTS sections)
    string(REGEX MATCH "[0-9]+ ([^ \n]+) +([0-9a-f]+) +([0-9a-f]+)" fields "${entry}")
    set(name "${CMAKE_MATCH_1}")
    if(name STREQUAL SECTION)
        math(EXPR start "0x${CMAKE_MATCH_3}")
        math(EXPR end "0x${CMAKE_MATCH_3} + 0x${CMAKE_MATCH_2}")
    elseif(entry MATCHES "CODE")
        list(APPEND others -j ${name})
    endif()
endforeach()
if(start STREQUAL "" OR NOT others)
    message(STATUS "TavroCheckInitCode: ${IMAGE} has no ${SECTION} section to check")
    return()
endif()

set(listing "${IMAGE}.code.txt")
execute_process(COMMAND ${OBJDUMP} -d ${others} ${IMAGE} OUTPUT_FILE ${listing}
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "TavroCheckInitCode: ${OBJDUMP} -d ${IMAGE} failed: ${errors}")
endif()
# Instructions that name an address print it as "<hex> <symbol>" after a blank.
file(STRINGS ${listing} lines REGEX "[ \t][0-9a-f]+ <")
file(REMOVE ${listing})
set(bad "")
foreach(line IN LISTS lines)
    string(REGEX MATCHALL "[ \t][0-9a-f]+ <" targets "${line}")
    foreach(target IN LISTS targets)
        string(REGEX REPLACE "[ \t<]" "" target "${target}")
        math(EXPR address "0x${target}")
        if(address GREATER_EQUAL start AND address LESS end)
            string(STRIP "${line}" line)
            string(APPEND bad "\n  ${line}")
        endif()
    endforeach()
endforeach()
if(bad)
    message(FATAL_ERROR "TavroCheckInitCode: code outside ${SECTION} in ${IMAGE} refers into "
                        "${SECTION}, which may be gone when it runs:${bad}")
endif()
message(STATUS "TavroCheckInitCode: no code outside ${SECTION} of ${IMAGE} refers into it")
