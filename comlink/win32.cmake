# The Windows port. On other systems its source is built over a test double of
# the Win32 API, in the tests' own library (tests/comlink/win32.cmake).
if(WIN32)
  target_sources(comlink PRIVATE win32_port.cpp factory_win.cpp)
  # A small diagnostic program; building it also proves the library links.
  add_executable(comlink-dump port_dump_main.cpp)
  target_link_libraries(comlink-dump PRIVATE comlink pelkor_options)
endif()
