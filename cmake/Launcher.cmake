include(${CMAKE_CURRENT_LIST_DIR}/ChannelKeys.cmake)

# launcher_add_executable(<target> OUTPUT_DIR <dir> CONFIG_HOST <host:port> STATS_HOST <host:port>
#                         [CHANNEL_KEYS <file>] [E2E_HOOKS] [EXCLUDE_FROM_ALL])
# Builds one launcher with the profile of the LAUNCHER_* cache variables, the given servers and
# the channel's public keys (none: the configuration is taken unsigned). The executable is
# named after the game name; its symbols go to a debug file beside it
# (cmake/ReleaseProgram.cmake). E2E_HOOKS adds the end-to-end tests' hooks (app/e2e_hooks.h),
# never part of a release.
function(launcher_add_executable target)
  cmake_parse_arguments(ARG "E2E_HOOKS;EXCLUDE_FROM_ALL" "OUTPUT_DIR;CONFIG_HOST;STATS_HOST;CHANNEL_KEYS" "" ${ARGN})
  set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}_generated")

  set(LAUNCHER_CONFIG_HOST "${ARG_CONFIG_HOST}")
  set(LAUNCHER_STATS_HOST "${ARG_STATS_HOST}")
  configure_file("${PROJECT_SOURCE_DIR}/app/profile_values.h.in" "${gen}/profile_values.h" @ONLY)

  set(LAUNCHER_RES_DIR "${PROJECT_SOURCE_DIR}/res")
  string(REPLACE "." "," LAUNCHER_VERSION_COMMAS "${LAUNCHER_VERSION}")
  configure_file("${PROJECT_SOURCE_DIR}/res/launcher.rc.in" "${gen}/launcher.rc" @ONLY)

  # The resource compiler reads the artwork; CMake would not notice a new drawing by itself.
  file(GLOB art CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/res/art/*")
  set_source_files_properties("${gen}/launcher.rc" PROPERTIES
    OBJECT_DEPENDS "${art};${PROJECT_SOURCE_DIR}/res/launcher_pictures.rc;${PROJECT_SOURCE_DIR}/res/launcher_main_window.rc;${PROJECT_SOURCE_DIR}/res/resource.h")

  add_executable(${target} WIN32
    "${PROJECT_SOURCE_DIR}/app/main.cpp"
    "${PROJECT_SOURCE_DIR}/app/profile.cpp"
    "${gen}/launcher.rc")
  launcher_channel_keys_header(${target} "${ARG_CHANNEL_KEYS}" "${gen}/channel_keys.h")
  if(ARG_EXCLUDE_FROM_ALL)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  target_include_directories(${target} PRIVATE "${gen}" "${PROJECT_SOURCE_DIR}/res")
  target_link_options(${target} PRIVATE -municode)
  target_link_libraries(${target} PRIVATE launcher_win)
  if(ARG_E2E_HOOKS)
    target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/app/e2e_hooks.cpp")
    target_compile_definitions(${target} PRIVATE LAUNCHER_E2E_HOOKS)
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${LAUNCHER_GAME_NAME}"
    RUNTIME_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIR}")
  # Every launcher leaves its link stripped, with <game name>.debug beside it.
  launcher_split_debug_info(${target})
endfunction()

# A profile object for test programs that link the launcher's code without being a launcher.
function(launcher_add_test_profile target)
  set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}_generated")
  set(LAUNCHER_CONFIG_HOST "${LAUNCHER_TEST_HOST}")
  set(LAUNCHER_STATS_HOST "${LAUNCHER_TEST_HOST}")
  configure_file("${PROJECT_SOURCE_DIR}/app/profile_values.h.in" "${gen}/profile_values.h" @ONLY)
  add_library(${target} OBJECT "${PROJECT_SOURCE_DIR}/app/profile.cpp")
  launcher_channel_keys_header(${target} "" "${gen}/channel_keys.h")
  target_include_directories(${target} PRIVATE "${gen}")
  target_link_libraries(${target} PRIVATE launcher_core)
endfunction()
