# cmake -DPROGRAM=<exe> -DPFX=<pkcs12> [-DPASSWORD_FILE=<file>] [-DTIMESTAMP_URL=<url>]
#       [-DDESCRIPTION=<text>] -P cmake/SignProgram.cmake
# Signs a Windows program in place with Authenticode (SHA-256) through osslsigncode. The
# password is the first line of its file, never put on a command line. Without TIMESTAMP_URL no server
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
# The password is the first line of its file. osslsigncode would take the whole file (less its
# last line ends), so a second line, such as a note, would become part of the password: it gets
# a copy of the first line, in a folder only this user can open, removed whatever the outcome.
set(password_dir "${PROGRAM}.password")
file(REMOVE_RECURSE "${password_dir}")
if(NOT "${PASSWORD_FILE}" STREQUAL "")
  file(READ "${PASSWORD_FILE}" password_text)
  string(REGEX MATCH "^[^\r\n]*" password "${password_text}")
  file(MAKE_DIRECTORY "${password_dir}")
  file(CHMOD "${password_dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  file(WRITE "${password_dir}/first-line" "${password}")
  list(APPEND args -readpass "${password_dir}/first-line")
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
file(REMOVE_RECURSE "${password_dir}")
if(failed)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "signing ${PROGRAM} failed:\n${output}")
endif()
file(RENAME "${signed}" "${PROGRAM}")
