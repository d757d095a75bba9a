# Tests of the abstract port, the link and its snapshots (over a scripted port);
# the Windows cross build runs them under Wine.
include(GoogleTest)
add_executable(comlink_core_test port_test.cpp link_test.cpp)
target_link_libraries(comlink_core_test PRIVATE comlink GTest::gtest_main pelkor_options)
gtest_discover_tests(comlink_core_test TEST_FILTER "-ReportPureCallDeathTest.*" DISCOVERY_TIMEOUT 60)
# These match the report's text with POSIX regular expressions on standard
# error, where Windows shows a message box.
gtest_discover_tests(comlink_core_test TEST_FILTER "ReportPureCallDeathTest.*" DISCOVERY_TIMEOUT 60
                     PROPERTIES LABELS posix)

# The diagnostic rejects what is not a COM port number, naming the value.
foreach(arg 0 17 x 3x)
  add_test(NAME comlink_dump_rejects_${arg} COMMAND comlink-dump ${arg})
  set_tests_properties(comlink_dump_rejects_${arg} PROPERTIES
    PASS_REGULAR_EXPRESSION "'${arg}' is not a COM port number from 1 to 16")
endforeach()
