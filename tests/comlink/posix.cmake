# The termios port over real pseudo-terminals and over a scripted OS, and the COM device map.
if(NOT WIN32)
  include(GoogleTest)
  add_executable(comlink_posix_test posix_pty_test.cpp posix_os_test.cpp device_map_test.cpp
                                    serial_discovery_test.cpp com_database_test.cpp
                                    serial_access_test.cpp
                                    pty_far_end.cpp)
  target_link_libraries(comlink_posix_test PRIVATE comlink pelkor_options GTest::gtest_main util)
  gtest_discover_tests(comlink_posix_test DISCOVERY_MODE PRE_TEST)
endif()
