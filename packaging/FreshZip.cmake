# Shared by the package checks: the release zip made afresh with the build's CPack configuration, and unpacked.
# Reads CPACK, CPACK_CONFIG, CONFIG and PACKAGE from the caller's arguments.

# Makes the zip in `dir` (emptied first) with the environment as it stands, and sets `out` to its path.
function(make_fresh_zip dir out)
    file(REMOVE_RECURSE "${dir}")
    execute_process(COMMAND "${CPACK}" -G ZIP -C "${CONFIG}" --config "${CPACK_CONFIG}" -B "${dir}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT EXISTS "${dir}/${PACKAGE}.zip")
        message(FATAL_ERROR "cpack made no ${PACKAGE}.zip (exit ${result}):\n${output}")
    endif()
    set(${out} "${dir}/${PACKAGE}.zip" PARENT_SCOPE)
endfunction()

# Unpacks `zip` into the folder `into`.
function(unpack_zip zip into)
    file(MAKE_DIRECTORY "${into}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${zip}" WORKING_DIRECTORY "${into}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Cannot unpack ${zip}")
    endif()
endfunction()
