# The termios port, its OS seam, the COM device map and the platform factory.
if(NOT WIN32)
  target_sources(comlink PRIVATE posix_port.cpp posix_os.cpp posix_termios2.cpp device_map.cpp
                                 factory_posix.cpp
                                 serial_discovery.cpp com_database.cpp
                                 serial_access.cpp)
endif()
