# The launcher runs elevated from a folder its player can write to, so it must never load a DLL
# planted beside it. It restricts the DLL search to System32 first thing in wWinMain, but the
# loader binds a program's imports before that: every system DLL it links that is not one of
# Windows' known DLLs (which always come from System32) is therefore delay-loaded, bound on
# first call under the restricted search.

# A delayed function's address slot starts out pointing at its loading stub. A caller that
# declares the function as imported reads the slot (__imp_X) and never names the stub itself,
# and the linker then drops the stub's section as unused (binutils 2.40 does), leaving a slot
# of zero: the first call jumps to address 0. So every stub of a delay-import library is named
# on the link line (-u), which keeps it.
#
# launcher_delay_import(<variable> <dll>...): sets <variable> to the delay-import libraries of
# the DLLs, made once per build tree from the toolchain's import libraries, with the link
# options that keep their stubs.
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
    execute_process(COMMAND "${TOOLCHAIN_PREFIX}-nm" "${out}" OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot list the stubs of ${out}")
    endif()
    string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" stubs "${symbols}")
    foreach(stub IN LISTS stubs)
      string(REGEX REPLACE "^[0-9a-f]+ T " "" stub "${stub}")
      if(NOT stub MATCHES "^__tailMerge_|^___tailMerge_")
        list(APPEND libs "-Wl,-u,${stub}")
      endif()
    endforeach()
  endforeach()
  set(${variable} "${libs}" PARENT_SCOPE)
endfunction()

launcher_delay_import(LAUNCHER_DELAYED_CURL_DLLS crypt32.dll bcrypt.dll)
launcher_delay_import(LAUNCHER_DELAYED_DLLS comctl32.dll dbghelp.dll wininet.dll urlmon.dll iphlpapi.dll gdiplus.dll)
