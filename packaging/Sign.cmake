# Signs one Windows program or package in place (Authenticode, SHA-256) with the site's
# code-signing certificate: cmake -D... -P Sign.cmake
#
# In: OSSLSIGNCODE, FILE (an .exe or .msi), PKCS12 (the certificate, its key and chain),
#     PASSWORD_FILE (the file holding the PKCS#12's password), TIMESTAMP_URL (an RFC 3161
#     time-stamp server; empty: no time stamp), CHAIN (more certificates of the chain, PEM;
#     optional).
#
# The password is read by osslsigncode from its file, so that no command line that `ps`
# shows carries it. A file that could not be signed is deleted: a build given a certificate
# never leaves an unsigned program that looks built.

foreach(input OSSLSIGNCODE FILE PKCS12 PASSWORD_FILE)
    if(NOT ${input})
        message(FATAL_ERROR "Sign.cmake: ${input} is not set")
    endif()
endforeach()
foreach(input PKCS12 PASSWORD_FILE CHAIN)
    if(${input} AND (NOT EXISTS "${${input}}" OR IS_DIRECTORY "${${input}}"))
        file(REMOVE "${FILE}")
        message(FATAL_ERROR "Signing ${FILE}: no such file: '${${input}}' (${input})")
    endif()
endforeach()

get_filename_component(name "${FILE}" NAME)
# The description and the address that Windows shows with the publisher.
set(arguments sign -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}" -h sha256
    -n "ペロリンⅡ" -i "https://pelorin2.example.jp/")
if(CHAIN)
    list(APPEND arguments -ac "${CHAIN}")
endif()
if(TIMESTAMP_URL)
    list(APPEND arguments -ts "${TIMESTAMP_URL}")
    set(stamped "time stamp from ${TIMESTAMP_URL}")
else()
    set(stamped "no time stamp")
endif()

set(signed "${FILE}.signed")
file(REMOVE "${signed}")
execute_process(COMMAND "${OSSLSIGNCODE}" ${arguments} -in "${FILE}" -out "${signed}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0 OR NOT EXISTS "${signed}")
    file(REMOVE "${FILE}" "${signed}")
    message(FATAL_ERROR "Signing ${name} failed (${status}):\n${out}")
endif()
file(RENAME "${signed}" "${FILE}")
message(STATUS "Signed ${name} (SHA-256, ${stamped})")
