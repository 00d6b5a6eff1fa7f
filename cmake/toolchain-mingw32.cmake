# Cross-compiling for 32-bit Windows with Debian's mingw-w64, POSIX thread
# model (its libstdc++ has std::thread and std::mutex, which GoogleTest needs).
# Programs built here run on Linux through Wine (scripts/wine-run.sh).
#
# QV_MINGW_TRIPLET=x86_64-w64-mingw32 builds the same sources as a 64-bit
# program: only for running the tests on a machine whose kernel cannot run
# 32-bit code (and therefore no 32-bit Wine). What ships is the 32-bit build.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT QV_MINGW_TRIPLET)
  set(QV_MINGW_TRIPLET i686-w64-mingw32)
endif()
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${QV_MINGW_TRIPLET})
# try_compile projects read the toolchain file again: hand the choice on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV_MINGW_TRIPLET)
set(CMAKE_C_COMPILER ${QV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_MINGW_TRIPLET}-windres)

# Headers and libraries of the target (zlib among them) come from the mingw
# root only; programs the build runs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program ships as two files and must not need the compiler's DLLs
# (libgcc_s, libstdc++, libwinpthread) nor zlib1.dll beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${QV_MINGW_TRIPLET}/lib/libz.a CACHE FILEPATH "static zlib of the target")
set(ZLIB_INCLUDE_DIR /usr/${QV_MINGW_TRIPLET}/include CACHE PATH "zlib headers of the target")

# Test executables run under Wine, in a prefix inside the build folder.
get_filename_component(_qv_source_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_qv_source_root}/scripts/wine-run.sh)
