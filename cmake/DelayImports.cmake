# The launcher runs elevated from a folder its player can write to, so it must never load a DLL
# planted beside it. It restricts the DLL search to System32 first thing in wWinMain, but the
# loader binds a program's imports before that: every system DLL it links that is not one of
# Windows' known DLLs (which always come from System32) is therefore delay-loaded, bound on
# first call under the restricted search.

# launcher_delay_import(<variable> <dll>...): sets <variable> to the delay-import libraries of
# the DLLs, made once per build tree from the toolchain's import libraries.
function(launcher_delay_import variable)
  set(libs "")
  foreach(dll IN LISTS ARGN)
    string(TOLOWER "${dll}" name)
    string(REGEX REPLACE "\\.dll$" "" name "${name}")
    set(import_lib "${CMAKE_FIND_ROOT_PATH}/lib/lib${name}.a")
    set(out "${CMAKE_BINARY_DIR}/delay-imports/lib${name}-delay.a")
    set(script "${PROJECT_SOURCE_DIR}/scripts/make-delay-import-lib.sh")
    if(NOT EXISTS "${out}" OR "${script}" IS_NEWER_THAN "${out}" OR "${import_lib}" IS_NEWER_THAN "${out}")
      file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/delay-imports")
      execute_process(COMMAND bash "${script}" "${TOOLCHAIN_PREFIX}" "${import_lib}" "${dll}" "${out}"
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "cannot make the delay-import library of ${dll}")
      endif()
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${script}")
    list(APPEND libs "${out}")
  endforeach()
  set(${variable} "${libs}" PARENT_SCOPE)
endfunction()

# secur32: the launcher's own certificate check reads the TLS session's certificate from it
# (libcurl loads it at run time from System32 by itself). Bound at process start, Wine's
# secur32 would bring its own imports (netapi32, iphlpapi) from beside the program.
launcher_delay_import(LAUNCHER_DELAYED_CURL_DLLS crypt32.dll bcrypt.dll secur32.dll)
launcher_delay_import(LAUNCHER_DELAYED_DLLS comctl32.dll dbghelp.dll wininet.dll urlmon.dll iphlpapi.dll gdiplus.dll)

# A call to a function declared __declspec(dllimport) reads its address from the __imp_ slot
# and never names the function's own symbol. GNU ld then leaves out the thunk of a dlltool
# delay-import member as an unused import stub, and the slot, which should point at that thunk,
# stays 0: the first call jumps to address 0 (32-bit builds; wininet, comctl32 and crypt32
# declare their functions so). Declared without it, calls name the thunk and keep it. MSVC's
# /DELAYLOAD works with dllimport and needs none of this.
if(MINGW)
  add_compile_definitions(DECLSPEC_IMPORT=)
endif()
