# Cross-compiles for 64-bit Windows with Debian's mingw-w64. This is the variant the tests run
# under 64-bit Wine on hosts that cannot execute 32-bit code; the shipped launcher is always
# the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
