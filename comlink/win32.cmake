# The Windows port and the Windows side of the COM device map. On other systems
# the port's source is built over a test double of the Win32 API, in the tests'
# own library (tests/comlink/win32.cmake).
if(WIN32)
  target_sources(comlink PRIVATE win32_port.cpp factory_win.cpp device_map_win.cpp)
endif()
