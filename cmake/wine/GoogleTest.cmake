# GoogleTest's CMake module for the tests that run under Wine: the same
# gtest_discover_tests, but listing the tests when CTest runs (the Wine prefix
# may not exist at build time) and with time for Wine to start on a loaded machine.
include(${CMAKE_ROOT}/Modules/GoogleTest.cmake)
function(gtest_discover_tests target)
  _gtest_discover_tests(${target} ${ARGN} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180)
endfunction()
