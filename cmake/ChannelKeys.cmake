# The header that compiles a channel's public keys into a launcher (channel_keys.h).
#
# The keys file is what `scripts/channel keygen` writes as PREFIX.pub, or two of them one after
# the other (the current key and the next, while a studio rotates): each key one line of 64
# hex digits; blank lines and lines starting with "#" are skipped. No file: the header holds
# no key and the launcher takes its configuration unsigned.
#
# The header is made at build time (this file run with -P), so a new keys file reaches the
# launcher by building it again: the end-to-end tests make their keys after configuring.

# launcher_channel_keys_header(<target> <keys file or ""> <header>): makes <header> for <target>.
function(launcher_channel_keys_header target keys_file header)
  set(depends "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" "${PROJECT_SOURCE_DIR}/app/channel_keys.h.in")
  set(keys_path "")
  if(keys_file)
    get_filename_component(keys_path "${keys_file}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    list(APPEND depends "${keys_path}")
  endif()
  add_custom_command(OUTPUT "${header}"
    COMMAND "${CMAKE_COMMAND}" "-DKEYS_FILE=${keys_path}" "-DHEADER=${header}"
            "-DTEMPLATE=${PROJECT_SOURCE_DIR}/app/channel_keys.h.in" -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    DEPENDS ${depends}
    COMMENT "Channel keys of ${target}: ${keys_path}"
    VERBATIM)
  target_sources(${target} PRIVATE "${header}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED HEADER)
  set(initializers "")
  if(KEYS_FILE)
    if(NOT EXISTS "${KEYS_FILE}")
      message(FATAL_ERROR "channel keys: ${KEYS_FILE} does not exist")
    endif()
    # A message names the file and the line, never what the line holds: the file given may be
    # a secret key, and the build log is read by many.
    file(STRINGS "${KEYS_FILE}" lines)
    set(count 0)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      string(STRIP "${line}" key)
      if(key STREQUAL "" OR key MATCHES "^#")
        continue()
      endif()
      if(key MATCHES "^channel-secret-key=")
        message(FATAL_ERROR "channel keys: ${KEYS_FILE} is a secret key file (keygen's PREFIX.key): "
                            "give the public PREFIX.pub, and keep the secret off build machines")
      endif()
      string(LENGTH "${key}" digits)
      if(NOT key MATCHES "^[0-9a-fA-F]+$" OR NOT digits EQUAL 64)
        message(FATAL_ERROR "channel keys: ${KEYS_FILE}: line ${number} is not a public key (64 hex digits)")
      endif()
      string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," bytes "${key}")
      string(APPEND initializers "{{${bytes}}},")
      math(EXPR count "${count} + 1")
    endforeach()
    if(count LESS 1 OR count GREATER 2)
      message(FATAL_ERROR "channel keys: ${KEYS_FILE} holds ${count} keys; a launcher takes one or two")
    endif()
  endif()
  set(LAUNCHER_CHANNEL_KEY_INITIALIZERS "${initializers}")
  configure_file("${TEMPLATE}" "${HEADER}" @ONLY)
endif()
