# Cross-build for 32-bit Windows with Debian's MinGW-w64 (posix thread model).
#
# i686 on purpose: the product's installer is a 32-bit program, so on 64-bit
# Windows its registry key lives in the 32-bit view (WOW6432Node), which only
# a 32-bit process reads under the plain key name.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C99 printf family from MinGW's own runtime rather than msvcrt's, whose
# vsnprintf returns -1 on truncation instead of the needed size.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)

# No runtime DLLs beside the system's: libgcc, libstdc++ and winpthread are
# linked in, so a program imports only system libraries and msvcrt.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine (ctest, try_run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
