# cmake -DPROGRAM=<exe> -DPFX=<pkcs12> [-DPASSWORD_FILE=<file>] [-DTIMESTAMP_URL=<url>]
#       [-DDESCRIPTION=<text>] -P cmake/SignProgram.cmake
# Signs a Windows program in place with Authenticode (SHA-256) through osslsigncode. The
# password is read from its file, never put on a command line. Without TIMESTAMP_URL no server
# is asked. A failed signature leaves the program as it was and fails the step.
cmake_minimum_required(VERSION 3.21)

foreach(required IN ITEMS PROGRAM PFX)
  if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
    message(FATAL_ERROR "SignProgram.cmake needs -D${required}=...")
  endif()
endforeach()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "osslsigncode is missing: run scripts/setup.sh")
endif()

set(args sign -pkcs12 "${PFX}" -h sha256)
if(NOT "${PASSWORD_FILE}" STREQUAL "")
  list(APPEND args -readpass "${PASSWORD_FILE}")
endif()
if(NOT "${DESCRIPTION}" STREQUAL "")
  list(APPEND args -n "${DESCRIPTION}")
endif()
if(NOT "${TIMESTAMP_URL}" STREQUAL "")
  list(APPEND args -ts "${TIMESTAMP_URL}")
endif()

set(signed "${PROGRAM}.signing")
file(REMOVE "${signed}")
execute_process(COMMAND "${OSSLSIGNCODE}" ${args} -in "${PROGRAM}" -out "${signed}"
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "signing ${PROGRAM} failed:\n${output}")
endif()
file(RENAME "${signed}" "${PROGRAM}")
