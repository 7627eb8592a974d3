# CTest: the zip that the package command makes holds exactly the portable program and its read-me, in
# one top folder named like the zip. Makes the zip afresh in WORK_DIR with the build's CPack
# configuration. Arguments: -DCPACK, -DCPACK_CONFIG, -DCONFIG, -DWORK_DIR, -DPACKAGE (the zip's name
# without .zip), -DCONTENTS (packaging/contents.txt).
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/Contents.cmake)

include(${CMAKE_CURRENT_LIST_DIR}/FreshZip.cmake)
make_fresh_zip("${WORK_DIR}" zip)

execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${zip}" RESULT_VARIABLE result OUTPUT_VARIABLE listing)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Cannot list ${zip}")
endif()
string(REGEX REPLACE "\r?\n$" "" listing "${listing}")
string(REGEX REPLACE "\r?\n" ";" entries "${listing}")
set(actual)
foreach(entry IN LISTS entries)
    string(FIND "${entry}" "${PACKAGE}/" at)
    if(NOT at EQUAL 0)
        message(FATAL_ERROR "${entry} in ${PACKAGE}.zip lies outside its top folder ${PACKAGE}/")
    endif()
    string(LENGTH "${PACKAGE}/" prefixLength)
    string(SUBSTRING "${entry}" ${prefixLength} -1 entry)
    list(APPEND actual "${entry}")
endforeach()

read_expected_contents("${CONTENTS}" expected)
compare_contents("${PACKAGE}.zip" "${expected}" "${actual}")
