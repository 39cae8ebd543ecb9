# Builds Pelorin2.msi: cmake -D... -P BuildMsi.cmake
#
# In: WIXL, MSIBUILD, MSIINFO (the msitools programs), SOURCE (Pelorin2.wxs), WORK (a scratch
#     folder), OUTPUT, VERSION, MAKER, LAUNCHER (Pelorin2.exe), PLAN_TOOL (p2wg.exe),
#     WORKGROUP (the workgroup file to ship), ICON.
#
# wixl leaves the database's code page at 0 and drops every text it cannot write in it, so
# the texts that are not ASCII are written again once the code page is 932.

if(NOT WORKGROUP)
    message(FATAL_ERROR "Pelorin2.msi installs the site's workgroup file: configure the Windows "
                        "build with -DP2_MSI_WORKGROUP_FILE=/path/to/Pelorin2.wgf")
endif()
foreach(input LAUNCHER PLAN_TOOL WORKGROUP ICON)
    if(NOT EXISTS "${${input}}" OR IS_DIRECTORY "${${input}}")
        message(FATAL_ERROR "Pelorin2.msi: no such file: '${${input}}' (${input})")
    endif()
endforeach()

set(texts
    ProductName "ペロリンⅡ"
    Manufacturer "${MAKER}"
    ShortcutName "ペロリンⅡ"
    TargetDbMessage "起動するデータベースのファイル名を TARGETDB に指定してください（例: TARGETDB=sales.mdb）。"
    DowngradeMessage "新しいバージョンのペロリンⅡがインストールされています。")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# wixl finds its sources only by names relative to the working folder.
file(COPY_FILE "${SOURCE}" "${WORK}/Pelorin2.wxs")
file(COPY_FILE "${LAUNCHER}" "${WORK}/Pelorin2.exe")
file(COPY_FILE "${PLAN_TOOL}" "${WORK}/p2wg.exe")
file(COPY_FILE "${WORKGROUP}" "${WORK}/Pelorin2.wgf")
file(COPY_FILE "${ICON}" "${WORK}/Pelorin2.ico")

set(defines "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Include>\n")
string(APPEND defines "  <?define Version = \"${VERSION}\" ?>\n")
set(queries)
set(pairs ${texts})
while(pairs)
    list(POP_FRONT pairs name value)
    if(value MATCHES "[\"'<>&]")
        message(FATAL_ERROR "Pelorin2.msi: ${name} holds a character it cannot carry: ${value}")
    endif()
    string(APPEND defines "  <?define ${name} = \"${value}\" ?>\n")
endwhile()
string(APPEND defines "</Include>\n")
file(WRITE "${WORK}/Defines.wxi" "${defines}")

function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    # wixl reports some failures on standard error only.
    if(NOT status EQUAL 0 OR out MATCHES "CRITICAL|ERROR|rror:")
        message(FATAL_ERROR "Pelorin2.msi: ${ARGN} failed (${status}):\n${out}")
    endif()
    set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(ENV{LC_ALL} C.UTF-8)
set(msi "${WORK}/Pelorin2.msi")
run("${WIXL}" -a x86 -o "${msi}" Pelorin2.wxs)

file(WRITE "${WORK}/_ForceCodepage.idt" "\r\n\r\n932\t_ForceCodepage\r\n")
run("${MSIBUILD}" "${msi}" -i _ForceCodepage.idt)
block(SCOPE_FOR VARIABLES)
    cmake_parse_arguments(T "" "ProductName;Manufacturer;ShortcutName;TargetDbMessage;DowngradeMessage" "" ${texts})
    run("${MSIBUILD}" "${msi}"
        -q "UPDATE `Property` SET `Value`='${T_ProductName}' WHERE `Property`='ProductName'"
        -q "UPDATE `Property` SET `Value`='${T_Manufacturer}' WHERE `Property`='Manufacturer'"
        -q "UPDATE `Shortcut` SET `Name`='PELORIN2|${T_ShortcutName}' WHERE `Shortcut`='Pelorin2Shortcut'"
        -q "UPDATE `LaunchCondition` SET `Description`='${T_TargetDbMessage}' WHERE `Condition`='Installed OR TARGETDB'"
        -q "UPDATE `LaunchCondition` SET `Description`='${T_DowngradeMessage}' WHERE `Condition`='NOT WIX_DOWNGRADE_DETECTED'")

    # wixl writes the summary's language as 1033 whatever the package says; the package code
    # it chose is kept.
    run("${MSIINFO}" suminfo "${msi}")
    if(NOT run_output MATCHES "Revision number \\(UUID\\): ({[-0-9A-F]+})")
        message(FATAL_ERROR "Pelorin2.msi: no package code in\n${run_output}")
    endif()
    # Called directly: the template's ";" would split the argument in run().
    execute_process(COMMAND "${MSIBUILD}" "${msi}" -s "${T_ProductName}" "${T_Manufacturer}"
                            "Intel;1041" "${CMAKE_MATCH_1}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "Pelorin2.msi: the summary could not be written (${status})")
    endif()
endblock()

file(COPY_FILE "${msi}" "${OUTPUT}")
