# Makes Tavro.exe the package the hub's driver installer reads: the linked hub image with the
# kernel driver Tavro.sys of the same build (so of the same architecture) appended behind it.
#
# The installer takes the program file as two pieces, the first 55,296 bytes and at most the
# next 102,400, and takes the driver from the first "MZ" 0x90 0x00 in the second piece to the
# end of what it read (hub/install/DriverPackage.h). So the package must hold no such four bytes
# from offset 55,296 up to where the driver begins, and the driver must end within 157,696
# bytes of the file's start. A hub image shorter than 55,296 bytes is padded with blanks up to there, so
# that the driver begins in the second piece. The driver goes in without its symbol table
# (strip also writes the image checksum anew); the system's loader needs no symbols.
#
# cmake -DHUB_IMAGE=<linked hub> -DDRIVER=<Tavro.sys or empty> -DOUTPUT=<package>
#       [-DSTRIP=<strip tool>] [-DWORK=<folder for the pieces>] -P PackageHub.cmake
#
# HUB_IMAGE may be OUTPUT itself (the package is made in place after linking). On failure
# OUTPUT is removed, so that the next build links and checks again, and the build stops with
# the reason. With no DRIVER (a configuration that builds no kernel driver) the hub stays bare,
# with a warning: the installer of such a hub reports that the driver is missing.

cmake_minimum_required(VERSION 3.25)

set(firstPiece 55296)
set(packageWindow 157696)
set(signature "4d5a9000")

function(package_fail)
    string(JOIN "" reason ${ARGV})
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "Tavro.exe package: ${reason}")
endfunction()

# The byte offset of the first signature in the file at or after `from`, or -1. Reads the
# file as hex text; a match must start on a byte, not between the two digits of one.
function(find_signature path from result)
    file(READ "${path}" hex OFFSET ${from} HEX)
    set(position 0)
    while(TRUE)
        string(SUBSTRING "${hex}" ${position} -1 rest)
        string(FIND "${rest}" "${signature}" found)
        if(found EQUAL -1)
            set(${result} -1 PARENT_SCOPE)
            return()
        endif()
        math(EXPR at "${position} + ${found}")
        math(EXPR odd "${at} % 2")
        if(odd EQUAL 0)
            math(EXPR byte "${from} + ${at} / 2")
            set(${result} ${byte} PARENT_SCOPE)
            return()
        endif()
        math(EXPR position "${at} + 1")
    endwhile()
endfunction()

foreach(required HUB_IMAGE OUTPUT)
    if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
        message(FATAL_ERROR "PackageHub.cmake: ${required} is not set")
    endif()
endforeach()
if(NOT EXISTS "${HUB_IMAGE}")
    package_fail("the hub image ${HUB_IMAGE} does not exist")
endif()
if(NOT WORK)
    get_filename_component(WORK "${OUTPUT}" DIRECTORY)
    set(WORK "${WORK}/package")
endif()
file(MAKE_DIRECTORY "${WORK}")

# The bare image, kept beside the package.
set(image "${WORK}/TavroImage.exe")
file(COPY_FILE "${HUB_IMAGE}" "${image}")
file(SIZE "${image}" imageSize)

if("${DRIVER}" STREQUAL "")
    message(WARNING "Tavro.exe package: this build makes no Tavro.sys; Tavro.exe is the bare hub "
                    "and cannot install its driver")
    if(NOT "${HUB_IMAGE}" STREQUAL "${OUTPUT}")
        file(COPY_FILE "${image}" "${OUTPUT}")
    endif()
    return()
endif()
if(NOT EXISTS "${DRIVER}")
    package_fail("the driver ${DRIVER} does not exist")
endif()

set(driver "${WORK}/Tavro.sys")
if(STRIP)
    execute_process(COMMAND "${STRIP}" --strip-all -o "${driver}" "${DRIVER}"
                    RESULT_VARIABLE stripped ERROR_VARIABLE stripError)
    if(NOT stripped EQUAL 0)
        package_fail("${STRIP} failed on ${DRIVER}: ${stripError}")
    endif()
else()
    file(COPY_FILE "${DRIVER}" "${driver}")
endif()
file(SIZE "${driver}" driverSize)

# The driver must be found by its own first bytes.
file(READ "${driver}" driverHead LIMIT 4 HEX)
if(NOT driverHead STREQUAL signature)
    package_fail("${DRIVER} does not begin with 4D 5A 90 00 (begins with ${driverHead})")
endif()

# The hub image must not hold the signature where the installer looks for the driver.
if(imageSize GREATER firstPiece)
    find_signature("${image}" ${firstPiece} early)
    if(NOT early EQUAL -1)
        package_fail("the hub image holds 4D 5A 90 00 at offset ${early}, at or after "
                     "${firstPiece}: the installer would take that for the driver")
    endif()
endif()

set(pieces "${image}")
set(driverStart ${imageSize})
if(imageSize LESS firstPiece)
    math(EXPR padSize "${firstPiece} - ${imageSize}")
    string(REPEAT " " ${padSize} pad)
    file(WRITE "${WORK}/padding" "${pad}")
    list(APPEND pieces "${WORK}/padding")
    set(driverStart ${firstPiece})
endif()
list(APPEND pieces "${driver}")

math(EXPR packageSize "${driverStart} + ${driverSize}")
if(packageSize GREATER packageWindow)
    math(EXPR over "${packageSize} - ${packageWindow}")
    package_fail("hub image ${imageSize} bytes + driver ${driverSize} bytes = ${packageSize} "
                 "bytes, ${over} more than the ${packageWindow} the installer reads: the "
                 "driver would be cut. Make the hub or the driver smaller.")
endif()

set(made "${WORK}/Tavro.exe")
execute_process(COMMAND "${CMAKE_COMMAND}" -E cat ${pieces} OUTPUT_FILE "${made}"
                RESULT_VARIABLE joined)
file(SIZE "${made}" madeSize)
if(NOT joined EQUAL 0 OR NOT madeSize EQUAL packageSize)
    package_fail("joining ${pieces} gave ${madeSize} bytes, not ${packageSize}")
endif()

# What the installer will do with the finished file: the first signature from 55,296 on must be
# where the driver begins.
find_signature("${made}" ${firstPiece} found)
if(NOT found EQUAL driverStart)
    package_fail("the installer would find the driver at ${found}, not at ${driverStart}")
endif()

file(COPY_FILE "${made}" "${OUTPUT}")
file(CHMOD "${OUTPUT}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                   WORLD_READ WORLD_EXECUTE)
math(EXPR spare "${packageWindow} - ${packageSize}")
message(STATUS "Tavro.exe package: hub image ${imageSize} bytes, driver ${driverSize} bytes at "
               "${driverStart}, ${packageSize} of ${packageWindow} bytes (${spare} to spare)")
