# The libraries of a Windows build, cross-built by scripts/windows-libraries
# under TESSALINE_WINDOWS_PREFIX, static but for GEOS: the same targets as
# pkg-config and find_package give the Linux build, so that the code's CMake
# files link them the same way.
set(TESSALINE_WINDOWS_PREFIX "" CACHE PATH "Prefix of the cross-built libraries (scripts/windows-libraries)")
if(NOT IS_DIRECTORY "${TESSALINE_WINDOWS_PREFIX}/lib")
  message(FATAL_ERROR "TESSALINE_WINDOWS_PREFIX must name the cross-built libraries' prefix (scripts/windows builds it)")
endif()
# Whatever else is looked for is looked for there too, never on this machine.
list(APPEND CMAKE_FIND_ROOT_PATH ${TESSALINE_WINDOWS_PREFIX})

# One static library: its target, its file name, its header, then what it needs.
function(tessaline_windows_library target name header)
  set(library ${TESSALINE_WINDOWS_PREFIX}/lib/lib${name}.a)
  set(include ${TESSALINE_WINDOWS_PREFIX}/include)
  if(NOT EXISTS ${library} OR NOT EXISTS ${include}/${header})
    message(FATAL_ERROR "${library} or ${include}/${header} is missing: rebuild the libraries with scripts/windows-libraries")
  endif()
  add_library(${target} STATIC IMPORTED)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${library}
    INTERFACE_INCLUDE_DIRECTORIES ${include}
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

# One SQLite for PROJ's database and for the GeoPackage reader.
tessaline_windows_library(SQLite::SQLite3 sqlite3 sqlite3.h)
tessaline_windows_library(Windows::TIFF tiff tiffio.h)
# PROJ finds the user's folders through the shell.
tessaline_windows_library(PkgConfig::PROJ proj proj.h SQLite::SQLite3 shell32)
tessaline_windows_library(GeoTIFF::GeoTIFF geotiff geotiff.h PkgConfig::PROJ Windows::TIFF)
tessaline_windows_library(PkgConfig::SHAPELIB shp shapefil.h)
# libcurl over Windows' own TLS (schannel): its sockets, TLS and crypto.
tessaline_windows_library(CURL::libcurl curl curl/curl.h ws2_32 iphlpapi bcrypt advapi32 crypt32 secur32)
set_target_properties(CURL::libcurl PROPERTIES INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB)
# GEOS's C API as a DLL, libgeos_c.dll, which loads libgeos.dll: its LGPL
# lets a user replace them, so both ship beside the program
# (TESSALINE_GEOS_DLLS, for the package).
set(geos_implib ${TESSALINE_WINDOWS_PREFIX}/lib/libgeos_c.dll.a)
set(TESSALINE_GEOS_DLLS ${TESSALINE_WINDOWS_PREFIX}/bin/libgeos_c.dll ${TESSALINE_WINDOWS_PREFIX}/bin/libgeos.dll)
foreach(file ${geos_implib} ${TESSALINE_GEOS_DLLS} ${TESSALINE_WINDOWS_PREFIX}/include/geos_c.h)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} is missing: rebuild the libraries with scripts/windows-libraries")
  endif()
endforeach()
add_library(GEOS::geos_c SHARED IMPORTED)
set_target_properties(GEOS::geos_c PROPERTIES IMPORTED_IMPLIB ${geos_implib}
  IMPORTED_LOCATION ${TESSALINE_WINDOWS_PREFIX}/bin/libgeos_c.dll
  INTERFACE_INCLUDE_DIRECTORIES ${TESSALINE_WINDOWS_PREFIX}/include)
set(TESSALINE_PROJ_DB ${TESSALINE_WINDOWS_PREFIX}/share/proj/proj.db)
