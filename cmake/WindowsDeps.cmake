# Third-party libraries of the Windows build, cross-built by scripts/setup.sh into a cache
# outside the repository.
set(LAUNCHER_DEPS_CACHE "$ENV{HOME}/.cache/launcher-deps" CACHE PATH "Cache of the mingw builds of libcurl, minizip, libsodium and libdeflate")

# One build of each per architecture (i686 or x86_64), named after the toolchain's processor.
set(_curl "${LAUNCHER_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/curl-thunks")
set(_minizip "${LAUNCHER_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/minizip")
set(_minizip_zip "${LAUNCHER_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/minizip-zip")
set(_sodium "${LAUNCHER_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/libsodium")
set(_deflate "${LAUNCHER_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/libdeflate")
if(NOT EXISTS "${_curl}/lib/libcurl.a" OR NOT EXISTS "${_minizip}/lib/libminizip.a"
   OR NOT EXISTS "${_minizip_zip}/lib/libminizip_zip.a" OR NOT EXISTS "${_sodium}/lib/libsodium.a"
   OR NOT EXISTS "${_deflate}/lib/libdeflate.a")
  message(FATAL_ERROR "libcurl/minizip/libsodium/libdeflate for mingw are missing in ${LAUNCHER_DEPS_CACHE}: run scripts/setup.sh")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/DelayImports.cmake)

add_library(deps_curl STATIC IMPORTED GLOBAL)
set_target_properties(deps_curl PROPERTIES
  IMPORTED_LOCATION "${_curl}/lib/libcurl.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_curl}/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;${LAUNCHER_DELAYED_CURL_DLLS};advapi32;normaliz;wldap32")

add_library(deps_minizip STATIC IMPORTED GLOBAL)
set_target_properties(deps_minizip PROPERTIES
  IMPORTED_LOCATION "${_minizip}/lib/libminizip.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_minizip}/include"
  INTERFACE_LINK_LIBRARIES "z")

# minizip's zip writer, which only the channel publisher links.
add_library(deps_minizip_zip STATIC IMPORTED GLOBAL)
set_target_properties(deps_minizip_zip PROPERTIES
  IMPORTED_LOCATION "${_minizip_zip}/lib/libminizip_zip.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_minizip_zip}/include"
  INTERFACE_LINK_LIBRARIES "deps_minizip")

# The package walk's inflater for entries that fit its buffers, and its CRC-32.
add_library(deps_deflate STATIC IMPORTED GLOBAL)
set_target_properties(deps_deflate PROPERTIES
  IMPORTED_LOCATION "${_deflate}/lib/libdeflate.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_deflate}/include")

# SODIUM_STATIC: the headers would otherwise declare the functions as imported from a DLL.
# Its random numbers come from advapi32 (RtlGenRandom).
add_library(deps_sodium STATIC IMPORTED GLOBAL)
set_target_properties(deps_sodium PROPERTIES
  IMPORTED_LOCATION "${_sodium}/lib/libsodium.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_sodium}/include"
  INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
  INTERFACE_LINK_LIBRARIES "advapi32")

# Every Windows program is linked statically so it runs without the compiler's DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
