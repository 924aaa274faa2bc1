# Third-party pieces of the Windows build, taken from the cross toolchain's sysroot or built here
# from Debian's source packages, never from the Linux system's headers or libraries.

# zlib: the sysroot's static library, so that no zlib DLL has to travel with the host.
if(NOT ZLIB_LIBRARY)
  find_library(ZLIB_LIBRARY NAMES libz.a)
endif()
find_package(ZLIB REQUIRED)

# nlohmann-json is header-only: its headers alone are copied into the build tree and offered under
# the usual package name. Adding the Linux /usr/include itself would put glibc's headers in front
# of the Windows ones.
find_path(KOVA_NLOHMANN_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_kova_win_pkg ${CMAKE_BINARY_DIR}/win_packages)
file(COPY ${KOVA_NLOHMANN_INCLUDE_DIR}/nlohmann DESTINATION ${_kova_win_pkg}/include)
file(WRITE ${_kova_win_pkg}/nlohmann_json/nlohmann_jsonConfig.cmake
"if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_kova_win_pkg}/include)
endif()
")
file(WRITE ${_kova_win_pkg}/nlohmann_json/nlohmann_jsonConfigVersion.cmake
"set(PACKAGE_VERSION 3)
set(PACKAGE_VERSION_COMPATIBLE TRUE)
")
set(nlohmann_json_DIR ${_kova_win_pkg}/nlohmann_json CACHE PATH "" FORCE)

# GoogleTest for the Windows test programs, built from the sources that libgtest-dev installs.
set(KOVA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows test programs")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${KOVA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Not our code: its warnings are not ours to fail on.
target_compile_options(gtest PRIVATE -Wno-error)
target_compile_options(gtest_main PRIVATE -Wno-error)
# (GoogleTest names its targets GTest::gtest and GTest::gtest_main itself.)
