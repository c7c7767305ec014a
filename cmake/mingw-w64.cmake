# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads, so
# that std::thread exists). The tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# TinyXML and GoogleTest built for mingw by scripts/windows-deps
if(NOT TOLVANE_WINDOWS_DEPS)
  set(TOLVANE_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/prefix")
endif()
get_filename_component(TOLVANE_WINDOWS_DEPS "${TOLVANE_WINDOWS_DEPS}" ABSOLUTE)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOLVANE_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${TOLVANE_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${TOLVANE_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Each .exe runs alone: no libgcc, libstdc++ or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)
