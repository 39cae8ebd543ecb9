# Authenticode signing of the Windows build, opt-in: given the site's code-signing certificate
# (a PKCS#12 file and a file holding its password, as cache variables or in the environment),
# Pelorin2.exe and p2wg.exe are signed after linking and Pelorin2.msi after it is built.
# Without a certificate nothing is signed.
#
# Out: P2_SIGN (the command that signs the file -DFILE=... names, then `-P ${P2_SIGN_SCRIPT}`;
#      empty when not signing), P2_SIGN_SCRIPT, P2_SIGN_DEPENDS (what a signed file is made
#      from besides its own inputs), p2_sign_after_link(TARGET).

set(P2_SIGN_PKCS12 "$ENV{P2_SIGN_PKCS12}" CACHE FILEPATH
    "Code-signing certificate with its key and chain (PKCS#12); empty: nothing is signed")
set(P2_SIGN_PASSWORD_FILE "$ENV{P2_SIGN_PASSWORD_FILE}" CACHE FILEPATH
    "File holding the PKCS#12's password")
set(P2_SIGN_TIMESTAMP_URL "$ENV{P2_SIGN_TIMESTAMP_URL}" CACHE STRING
    "RFC 3161 time-stamp server; empty: no time stamp")
set(P2_SIGN_CHAIN "$ENV{P2_SIGN_CHAIN}" CACHE FILEPATH
    "Further certificates of the chain (PEM), when the PKCS#12 lacks them")

set(P2_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/Sign.cmake)
set(P2_SIGN "")
if(P2_SIGN_PKCS12)
    find_program(P2_OSSLSIGNCODE osslsigncode)
    if(NOT P2_OSSLSIGNCODE)
        message(FATAL_ERROR "P2_SIGN_PKCS12 is set but osslsigncode is missing "
                            "(tools/deps.sh package)")
    endif()
    foreach(input P2_SIGN_PKCS12 P2_SIGN_PASSWORD_FILE)
        if(NOT ${input} OR NOT EXISTS "${${input}}" OR IS_DIRECTORY "${${input}}")
            message(FATAL_ERROR "Signing: ${input} names no file: '${${input}}'")
        endif()
    endforeach()
    set(P2_SIGN ${CMAKE_COMMAND} -DOSSLSIGNCODE=${P2_OSSLSIGNCODE}
        -DPKCS12=${P2_SIGN_PKCS12} -DPASSWORD_FILE=${P2_SIGN_PASSWORD_FILE}
        -DTIMESTAMP_URL=${P2_SIGN_TIMESTAMP_URL} -DCHAIN=${P2_SIGN_CHAIN})
    if(P2_SIGN_TIMESTAMP_URL)
        message(STATUS "Signing with ${P2_SIGN_PKCS12}, time stamp from ${P2_SIGN_TIMESTAMP_URL}")
    else()
        message(STATUS "Signing with ${P2_SIGN_PKCS12}, no time stamp")
    endif()
endif()

# Changes only when the settings do: a program linked before a certificate was given, or
# with another one, is linked and signed again, and one linked signed loses its signature
# once signing is switched off.
set(p2_settings ${CMAKE_BINARY_DIR}/signing-settings.txt)
file(CONFIGURE OUTPUT ${p2_settings} CONTENT
     "${P2_SIGN_PKCS12}\n${P2_SIGN_TIMESTAMP_URL}\n${P2_SIGN_CHAIN}\n" @ONLY)
set(P2_SIGN_DEPENDS ${p2_settings})
if(P2_SIGN)
    list(APPEND P2_SIGN_DEPENDS ${P2_SIGN_PKCS12} ${P2_SIGN_CHAIN})
endif()

function(p2_sign_after_link target)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${P2_SIGN_DEPENDS})
    if(P2_SIGN)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${P2_SIGN} -DFILE=$<TARGET_FILE:${target}> -P ${P2_SIGN_SCRIPT}
            VERBATIM)
    endif()
endfunction()
