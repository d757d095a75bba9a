# The Windows port's own source over the Win32 API double, and its tests.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  add_library(comlink_win32_double STATIC ${PROJECT_SOURCE_DIR}/comlink/win32_port.cpp
                                          win32_double.cpp)
  target_compile_definitions(comlink_win32_double PUBLIC PELKOR_WIN32_DOUBLE)
  target_link_libraries(comlink_win32_double PUBLIC comlink PRIVATE pelkor_options)

  include(GoogleTest)
  add_executable(comlink_win32_test win32_port_test.cpp win32_port_io_test.cpp)
  target_link_libraries(comlink_win32_test PRIVATE comlink_win32_double GTest::gtest_main
                                                   pelkor_options)
  gtest_discover_tests(comlink_win32_test DISCOVERY_TIMEOUT 60)
endif()
