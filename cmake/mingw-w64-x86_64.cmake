# Cross-compiles the Windows x86-64 deliverables with MinGW-w64 (the POSIX-threads flavour, which
# std::thread and std::mutex need). Use with -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOVA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KOVA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVA_MINGW_PREFIX}-windres)

# Libraries and headers come from the MinGW sysroot only; programs (the build's tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KOVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every .exe and .dll carries its own C and C++ runtime, so that it runs alone (also under Wine)
# without the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
