# Authenticode signatures with osslsigncode: o-service.exe right after each link, the .msi
# right after it is built (so the package holds the signed executable). The certificate is
# a PKCS#12 file and a file holding its password, named by these cache variables or, where
# they are empty, by environment variables of the same names when CMake configures.
include_guard(GLOBAL)

set(OSTRIVAN_SIGNING_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and its key (empty: not signed)")
set(OSTRIVAN_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 file's password")
set(OSTRIVAN_SIGNING_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signatures (empty: no time stamp)")
foreach(setting PKCS12 PASSWORD_FILE TIMESTAMP_URL)
    if(NOT OSTRIVAN_SIGNING_${setting} AND DEFINED ENV{OSTRIVAN_SIGNING_${setting}})
        set(OSTRIVAN_SIGNING_${setting} "$ENV{OSTRIVAN_SIGNING_${setting}}")
    endif()
endforeach()

set(OSTRIVAN_SIGN_COMMAND "")
if(OSTRIVAN_SIGNING_PKCS12 OR OSTRIVAN_SIGNING_PASSWORD_FILE)
    if(NOT OSTRIVAN_SIGNING_PKCS12 OR NOT OSTRIVAN_SIGNING_PASSWORD_FILE)
        message(FATAL_ERROR "Signing needs both OSTRIVAN_SIGNING_PKCS12 and OSTRIVAN_SIGNING_PASSWORD_FILE")
    endif()
    find_program(OSTRIVAN_OSSLSIGNCODE osslsigncode REQUIRED)
    set(OSTRIVAN_SIGN_COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/windows/sign.sh
                              ${OSTRIVAN_SIGNING_PKCS12} ${OSTRIVAN_SIGNING_PASSWORD_FILE})
    if(OSTRIVAN_SIGNING_TIMESTAMP_URL)
        list(APPEND OSTRIVAN_SIGN_COMMAND --timestamp=${OSTRIVAN_SIGNING_TIMESTAMP_URL})
    endif()
    message(STATUS "o-service.exe and the .msi are signed with ${OSTRIVAN_SIGNING_PKCS12}")
else()
    message(STATUS "No code-signing certificate (OSTRIVAN_SIGNING_PKCS12 and "
                   "OSTRIVAN_SIGNING_PASSWORD_FILE): o-service.exe and the .msi are not signed")
endif()

# Signs TARGET's file in place after every link.
function(ostrivan_sign_after_build target)
    if(OSTRIVAN_SIGN_COMMAND)
        add_custom_command(TARGET ${target} POST_BUILD
                           COMMAND ${OSTRIVAN_SIGN_COMMAND} $<TARGET_FILE:${target}> VERBATIM)
    endif()
endfunction()
