# Tests of the abstract port, the link and its snapshots (over a scripted port).
if(NOT CMAKE_CROSSCOMPILING)
  include(GoogleTest)
  add_executable(comlink_core_test port_test.cpp link_test.cpp)
  target_link_libraries(comlink_core_test PRIVATE comlink GTest::gtest_main pelkor_options)
  gtest_discover_tests(comlink_core_test DISCOVERY_TIMEOUT 60)
endif()
