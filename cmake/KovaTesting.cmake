# Test helpers shared by every tests/ folder. Every test gets a time-out so a hang fails.
enable_testing()
if(NOT TARGET GTest::gtest)
  find_package(GTest REQUIRED)
endif()
find_package(Threads REQUIRED)

# kova_add_gtest(name TIMEOUT s SOURCES ... LIBS ...)
function(kova_add_gtest name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads ${A_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "KOVA_DIST_DIR=${KOVA_DIST_DIR};KOVA_ADDON_DIR=${KOVA_ADDON_DIR};KOVA_HOST_DIR=${KOVA_HOST_DIR};KOVA_SAI_DIR=${KOVA_SAI_DIR}")
endfunction()

# Extra environment of every node test, e.g. a sanitizer runtime preloaded into node
# (scripts/sanitize.sh sets it): a list of NAME=value.
set(KOVA_NODE_TEST_ENV "" CACHE STRING "Extra environment (NAME=value list) of the node tests")

# kova_add_node_test(name file TIMEOUT s): one file run by node's own test runner.
function(kova_add_node_test name file)
  cmake_parse_arguments(A "" "TIMEOUT" "" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_test(NAME ${name} COMMAND ${NODE_EXECUTABLE} --test ${file})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "KOVA_DIST_DIR=${KOVA_DIST_DIR};KOVA_ADDON_DIR=${KOVA_ADDON_DIR};KOVA_HOST_DIR=${KOVA_HOST_DIR};KOVA_SAI_DIR=${KOVA_SAI_DIR};KOVA_BUILD_DIR=${CMAKE_BINARY_DIR};${KOVA_NODE_TEST_ENV}")
endfunction()

# kova_add_windows_test(name SOURCES ... LIBS ...): a GoogleTest program of the Windows build. It is
# not run by this tree: the Linux tree's ctest runs it under Wine (tests/windows).
function(kova_add_windows_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads ${A_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/win_tests)
endfunction()
