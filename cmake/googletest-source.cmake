# GoogleTest built from source, for a cross build that has no GoogleTest of its
# own: Debian's googletest package puts the sources in /usr/src/googletest.
set(PELKOR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${PELKOR_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${PELKOR_GOOGLETEST_SOURCE}: install Debian's "
                      "googletest package (scripts/setup does) or set PELKOR_GOOGLETEST_SOURCE")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${PELKOR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(NOT TARGET GTest::gtest_main)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

# The tests run under Wine, in the build folder's own Wine prefix.
if(WIN32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run
                                    ${CMAKE_BINARY_DIR}/wineprefix)
  list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/wine)
endif()
