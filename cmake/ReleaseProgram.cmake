# What a shipped launcher goes through after its link: its symbols moved into a debug file beside
# it, and, when the studio asks for it, an Authenticode signature.
#
# Every Windows object carries DWARF 4 line and function information: Wine's debugger (the dump
# reader of scripts/read-dump.py) reads DWARF 4 but not GCC's default DWARF 5. The build id
# (a CodeView record in the program's debug directory) ties a program, its debug file and a
# crash dump's module list to one link.
if(NOT MSVC)
  add_compile_options(-gdwarf-4)
  add_link_options(-Wl,--build-id)
endif()

set(LAUNCHER_SIGN_PFX "" CACHE FILEPATH
  "PKCS#12 file (certificate and key) that signs the release launcher; empty: not signed")
set(LAUNCHER_SIGN_PASSWORD_FILE "" CACHE FILEPATH
  "File holding the password of LAUNCHER_SIGN_PFX (its first line); empty: no password")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 timestamp server for the signature; empty: no timestamp and no network")

# launcher_split_debug_info(<target>): the program loses its symbols and debug sections; they go
# to <name>.debug beside it, which the program names with a debug link (file name and CRC).
function(launcher_split_debug_info target)
  get_target_property(name ${target} OUTPUT_NAME)
  get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "${name}.exe" "${name}.debug"
    COMMAND "${CMAKE_STRIP}" --strip-all "${name}.exe"
    COMMAND "${CMAKE_OBJCOPY}" "--add-gnu-debuglink=${name}.debug" "${name}.exe"
    WORKING_DIRECTORY "${dir}"
    COMMENT "Moving the symbols of ${name}.exe into ${name}.debug"
    VERBATIM)
endfunction()

# launcher_sign_when_asked(<target>): signs the program after its link when LAUNCHER_SIGN_PFX is
# set (cmake/SignProgram.cmake, the same step the tests run); nothing otherwise.
function(launcher_sign_when_asked target)
  if(LAUNCHER_SIGN_PFX STREQUAL "")
    if(NOT LAUNCHER_SIGN_TIMESTAMP_URL STREQUAL "" OR NOT LAUNCHER_SIGN_PASSWORD_FILE STREQUAL "")
      message(FATAL_ERROR "LAUNCHER_SIGN_PASSWORD_FILE and LAUNCHER_SIGN_TIMESTAMP_URL need LAUNCHER_SIGN_PFX")
    endif()
    return()
  endif()
  foreach(file IN ITEMS "${LAUNCHER_SIGN_PFX}" "${LAUNCHER_SIGN_PASSWORD_FILE}")
    if(NOT file STREQUAL "" AND NOT EXISTS "${file}")
      message(FATAL_ERROR "signing file not found: ${file}")
    endif()
  endforeach()
  # A new certificate re-signs the program even when nothing else changed.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${LAUNCHER_SIGN_PFX}")
  get_target_property(name ${target} OUTPUT_NAME)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}"
      "-DPROGRAM=$<TARGET_FILE:${target}>"
      "-DPFX=${LAUNCHER_SIGN_PFX}"
      "-DPASSWORD_FILE=${LAUNCHER_SIGN_PASSWORD_FILE}"
      "-DTIMESTAMP_URL=${LAUNCHER_SIGN_TIMESTAMP_URL}"
      "-DDESCRIPTION=${LAUNCHER_GAME_NAME}"
      -P "${PROJECT_SOURCE_DIR}/cmake/SignProgram.cmake"
    COMMENT "Signing ${name}.exe"
    VERBATIM)
endfunction()
