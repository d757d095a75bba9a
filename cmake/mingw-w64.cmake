# Cross build for 64-bit Windows with the mingw-w64 "-posix" compilers (their
# threading model gives std::thread and friends).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# A Qt 6 for Windows (QT_WINDOWS, with QT_HOST_PATH naming a Linux Qt of the same
# version) lets the dialog build too.
if(DEFINED ENV{QT_WINDOWS})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{QT_WINDOWS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# A self-contained program: no libstdc++/libgcc DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The C library's gmtime_r and localtime_r, and M_PI, as on POSIX systems.
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L -D_USE_MATH_DEFINES")
