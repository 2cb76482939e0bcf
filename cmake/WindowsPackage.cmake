# The Windows zip (cpack -G ZIP; scripts/windows builds it): one folder,
# Tessaline-VERSION-win64, that works wherever it is unpacked:
#   Tessaline.exe LiDAR.dll     the program and the library it and C callers load
#   libgeos_c.dll libgeos.dll   GEOS, which the program loads (a user may replace them)
#   Tessaline-tiles.cmd         every tile of a folder, for cmd.exe
#   README.txt Tessaline.txt    how to start, and the manual page as text
#   proj\proj.db                PROJ's database, which the program finds beside itself
#   include\LiDAR.h lib\LiDAR.lib   the library's header and import library
#   licences\LIBRARY\...        the licences of the libraries linked in
# Text files get Windows line ends.

# The library keeps its plain name: LiDAR.dll and LiDAR.lib, not libLiDAR.dll.
set_target_properties(LiDAR PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX .lib)

install(TARGETS Tessaline RUNTIME DESTINATION .)
install(TARGETS LiDAR RUNTIME DESTINATION . ARCHIVE DESTINATION lib PUBLIC_HEADER DESTINATION include)
install(FILES ${TESSALINE_GEOS_DLLS} DESTINATION .)
install(FILES ${TESSALINE_PROJ_DB} DESTINATION proj)

configure_file(docs/windows/README.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(scripts/Tessaline-tiles.cmd ${CMAKE_CURRENT_BINARY_DIR}/Tessaline-tiles.cmd @ONLY NEWLINE_STYLE CRLF)
set(manual ${CMAKE_CURRENT_BINARY_DIR}/Tessaline.txt)
add_custom_command(OUTPUT ${manual}
  COMMAND ${CMAKE_COMMAND} -DMANUAL=${PROJECT_SOURCE_DIR}/docs/Tessaline.1 -DOUTPUT=${manual}
          -P ${PROJECT_SOURCE_DIR}/cmake/WindowsManual.cmake
  DEPENDS docs/Tessaline.1 cmake/WindowsManual.cmake)
add_custom_target(manual ALL DEPENDS ${manual})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${manual} DESTINATION .)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/Tessaline-tiles.cmd DESTINATION .)

# Each linked library's own licence texts, as unpacked from its archive, and
# those of the compiler's runtime linked into both binaries.
install(DIRECTORY ${TESSALINE_WINDOWS_PREFIX}/share/licences/ DESTINATION licences)
install(FILES /usr/share/doc/mingw-w64-common/copyright DESTINATION licences/mingw-w64 RENAME COPYING.txt)
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright DESTINATION licences/gcc-runtime RENAME COPYING.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tessaline)
set(CPACK_PACKAGE_FILE_NAME Tessaline-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
include(CPack)

# The QGIS plugin's zip (scripts/qgis-plugin) at the top of the folder:
# unpacked there, as tessaline\, the plugin finds Tessaline.exe in the folder
# above its own; installed through QGIS's Install from ZIP, it is told where
# the program is in the Processing options.
file(GLOB qgis_plugin_files ${PROJECT_SOURCE_DIR}/qgis/tessaline/*)
set(qgis_plugin_zip ${CMAKE_CURRENT_BINARY_DIR}/qgis/tessaline-qgis-${PROJECT_VERSION}.zip)
add_custom_command(OUTPUT ${qgis_plugin_zip}
  COMMAND ${CMAKE_COMMAND} -E env QGIS_PLUGIN_BUILD=${CMAKE_CURRENT_BINARY_DIR}/qgis
          ${PROJECT_SOURCE_DIR}/scripts/qgis-plugin
  DEPENDS ${qgis_plugin_files} ${PROJECT_SOURCE_DIR}/scripts/qgis-plugin)
add_custom_target(qgis_plugin ALL DEPENDS ${qgis_plugin_zip})
install(FILES ${qgis_plugin_zip} DESTINATION .)
