# Signs the installed executables with Authenticode, run by the install step (and so by CPack, before it zips
# them). The certificate comes from the environment, never from the build's settings, so that no password lands in
# a cache file:
#   BOOTWARDEN_SIGN_PFX       a PKCS#12 file (.pfx/.p12) holding an RSA code-signing certificate and its key
#   BOOTWARDEN_SIGN_PASSWORD  its password, if it has one
#   BOOTWARDEN_TIMESTAMP_URL  an RFC 3161 timestamp server; without one the signature carries no timestamp and
#                             ends with the certificate
# Without BOOTWARDEN_SIGN_PFX nothing is signed, and that is said. With it, a file that cannot be signed stops the
# install: a release is never half signed. Signs with signtool on Windows when it is on the path, else with
# osslsigncode. Variables: SIGN_FILES (the files to sign).
cmake_minimum_required(VERSION 3.16)

set(certificate "$ENV{BOOTWARDEN_SIGN_PFX}")
if(certificate STREQUAL "")
    message(STATUS "Not signed: no certificate configured (BOOTWARDEN_SIGN_PFX is not set)")
    return()
endif()
if(NOT EXISTS "${certificate}")
    message(FATAL_ERROR "BOOTWARDEN_SIGN_PFX names ${certificate}, which does not exist")
endif()
set(password "$ENV{BOOTWARDEN_SIGN_PASSWORD}")
set(timestampUrl "$ENV{BOOTWARDEN_TIMESTAMP_URL}")

if(CMAKE_HOST_WIN32)
    find_program(signtool signtool)
endif()
find_program(osslsigncode osslsigncode)
if(NOT signtool AND NOT osslsigncode)
    message(FATAL_ERROR "A certificate is configured, but neither signtool nor osslsigncode is on the path")
endif()

foreach(file IN LISTS SIGN_FILES)
    if(signtool)
        set(command "${signtool}" sign /fd SHA256 /f "${certificate}")
        if(NOT password STREQUAL "")
            list(APPEND command /p "${password}")
        endif()
        if(NOT timestampUrl STREQUAL "")
            list(APPEND command /tr "${timestampUrl}" /td SHA256)
        endif()
        list(APPEND command "${file}")
    else()
        # osslsigncode writes a new file: it replaces the unsigned one only once it is whole.
        set(command "${osslsigncode}" sign -h sha256 -pkcs12 "${certificate}")
        if(NOT password STREQUAL "")
            list(APPEND command -pass "${password}")
        endif()
        if(NOT timestampUrl STREQUAL "")
            list(APPEND command -ts "${timestampUrl}")
        endif()
        file(REMOVE "${file}.signed")
        list(APPEND command -in "${file}" -out "${file}.signed")
    endif()
    execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        file(REMOVE "${file}.signed")
        if(NOT password STREQUAL "")
            string(REPLACE "${password}" "***" output "${output}")
        endif()
        message(FATAL_ERROR "${file} could not be signed (exit ${result}):\n${output}")
    endif()
    if(NOT signtool)
        file(RENAME "${file}.signed" "${file}")
    endif()
    if(timestampUrl STREQUAL "")
        message(STATUS "Signed ${file} (SHA-256, no timestamp: BOOTWARDEN_TIMESTAMP_URL is not set)")
    else()
        message(STATUS "Signed ${file} (SHA-256, timestamped by ${timestampUrl})")
    endif()
endforeach()
