# Run by `cmake --install`: the desktop entry and the polkit action name the launcher by its
# absolute path, which is known only once the prefix is.
#
# In: P2_DESKTOP_SOURCE_DIR (the templates), P2_DESKTOP_BINARY_DIR (a scratch folder),
#     P2_LAUNCHER_DESTINATION (the launcher's folder below the prefix).

get_filename_component(p2_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
set(p2_launcher "${p2_prefix}/${P2_LAUNCHER_DESTINATION}/Pelorin2")

# Exec: a path with reserved characters is quoted, and the quoting's own escapes are escaped
# again as a desktop-entry string.
set(P2_EXEC_LAUNCHER "${p2_launcher}")
if(p2_launcher MATCHES "[] \t\n\"'\\\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" p2_quoted "${p2_launcher}")
    string(REPLACE "\\" "\\\\" p2_quoted "${p2_quoted}")
    set(P2_EXEC_LAUNCHER "\"${p2_quoted}\"")
endif()

set(P2_XML_LAUNCHER "${p2_launcher}")
string(REPLACE "&" "&amp;" P2_XML_LAUNCHER "${P2_XML_LAUNCHER}")
string(REPLACE "<" "&lt;" P2_XML_LAUNCHER "${P2_XML_LAUNCHER}")
string(REPLACE ">" "&gt;" P2_XML_LAUNCHER "${P2_XML_LAUNCHER}")

# One scratch folder per prefix, so that installs into two prefixes at once do not mix.
string(MD5 p2_key "${p2_prefix}")
set(p2_scratch "${P2_DESKTOP_BINARY_DIR}/${p2_key}")
configure_file("${P2_DESKTOP_SOURCE_DIR}/pelorin2.desktop.in" "${p2_scratch}/pelorin2.desktop"
               @ONLY)
configure_file("${P2_DESKTOP_SOURCE_DIR}/jp.example.pelorin2.policy.in"
               "${p2_scratch}/jp.example.pelorin2.policy" @ONLY)

file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${p2_scratch}/pelorin2.desktop")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/polkit-1/actions" TYPE FILE
     FILES "${p2_scratch}/jp.example.pelorin2.policy")
