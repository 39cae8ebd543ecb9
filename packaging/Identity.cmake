# The packages' maker and version come from the launcher's version block, so that the file
# properties of Pelorin2.exe and what an installer shows can never disagree.
#
# Out: P2_MAKER (CompanyName of resources/Pelorin2.rc).

set(p2_rc "${PROJECT_SOURCE_DIR}/resources/Pelorin2.rc")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${p2_rc}")
file(STRINGS "${p2_rc}" p2_rc_version REGEX "^FILEVERSION ")
file(STRINGS "${p2_rc}" p2_rc_maker REGEX "VALUE \"CompanyName\"" ENCODING UTF-8)

string(REPLACE "." "," p2_project_version "${PROJECT_VERSION}")
if(NOT p2_rc_version STREQUAL "FILEVERSION ${p2_project_version}")
    message(FATAL_ERROR "${p2_rc}: '${p2_rc_version}' differs from the project's version "
                        "${PROJECT_VERSION}")
endif()
if(NOT p2_rc_maker MATCHES "\"CompanyName\", \"([^\"]+)\"")
    message(FATAL_ERROR "${p2_rc}: no CompanyName in the version block")
endif()
set(P2_MAKER "${CMAKE_MATCH_1}")
