# CTest: with a certificate configured, the executables in the release zip carry a good Authenticode signature
# (SHA-256) by it. Makes a throwaway RSA code-signing certificate with openssl in WORK_DIR (it never leaves there),
# makes the zip afresh with the build's CPack configuration and the certificate in the environment, unpacks it and
# verifies each executable with osslsigncode against that certificate. Then makes the zip once more without a
# certificate, and checks that its executables carry no signature. Arguments: -DCPACK, -DCPACK_CONFIG, -DCONFIG,
# -DWORK_DIR, -DPACKAGE, -DOPENSSL, -DOSSLSIGNCODE.
cmake_minimum_required(VERSION 3.16)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(run what)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (exit ${result}):\n${output}")
    endif()
endfunction()

set(password "throwaway-password")
run("Making the certificate" "${OPENSSL}" req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout key.pem
    -out certificate.pem -subj "/CN=Bootwarden package test" -addext "extendedKeyUsage=codeSigning")
run("Making the PKCS#12 file" "${OPENSSL}" pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.pfx
    -passout "pass:${password}")

include(${CMAKE_CURRENT_LIST_DIR}/FreshZip.cmake)

# The zip made by cpack with the environment as given; its executables unpacked into WORK_DIR/<into>.
function(package into)
    make_fresh_zip("${WORK_DIR}/${into}" zip)
    unpack_zip("${zip}" "${WORK_DIR}/${into}")
endfunction()

set(ENV{BOOTWARDEN_SIGN_PFX} "${WORK_DIR}/certificate.pfx")
set(ENV{BOOTWARDEN_SIGN_PASSWORD} "${password}")
set(ENV{BOOTWARDEN_TIMESTAMP_URL} "")
package(signed)
set(failures)
foreach(name Bootwarden.exe bwcli.exe)
    set(exe "${WORK_DIR}/signed/${PACKAGE}/${name}")
    execute_process(COMMAND "${OSSLSIGNCODE}" verify -CAfile "${WORK_DIR}/certificate.pem" -in "${exe}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        list(APPEND failures "${name} in the zip has no good signature by the certificate:\n${output}")
    elseif(NOT output MATCHES "Message digest algorithm *: SHA256")
        list(APPEND failures "${name} is not signed with SHA-256:\n${output}")
    endif()
endforeach()

set(ENV{BOOTWARDEN_SIGN_PFX} "")
set(ENV{BOOTWARDEN_SIGN_PASSWORD} "")
package(unsigned)
foreach(name Bootwarden.exe bwcli.exe)
    execute_process(COMMAND "${OSSLSIGNCODE}" extract-signature -in "${WORK_DIR}/unsigned/${PACKAGE}/${name}"
                            -out "${WORK_DIR}/unsigned/${name}.signature"
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
    if(result EQUAL 0)
        list(APPEND failures "${name} is signed though no certificate was configured")
    endif()
endforeach()

if(failures)
    string(REPLACE ";" "\n  " failures "${failures}")
    message(FATAL_ERROR "The release is not signed as configured:\n  ${failures}")
endif()
message(STATUS "Both executables in the zip are signed by the configured certificate, and only then")
