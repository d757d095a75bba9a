# The Windows port. On other systems its source is built over a test double of
# the Win32 API, in the tests' own library (tests/comlink/win32.cmake).
if(WIN32)
  target_sources(comlink PRIVATE win32_port.cpp factory_win.cpp)
endif()
