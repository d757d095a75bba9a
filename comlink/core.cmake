# The abstract port, the link and its snapshots, and the time seam.
target_sources(comlink PRIVATE port.cpp link.cpp clock.cpp)
if(WIN32)
  target_sources(comlink PRIVATE report_win.cpp)
  target_link_libraries(comlink PUBLIC user32)
else()
  target_sources(comlink PRIVATE report_stderr.cpp)
endif()

# comlink-dump N: a small diagnostic that opens COMN through the platform's port
# and prints its description; on the Windows cross build it also proves the
# library links.
add_executable(comlink-dump port_dump_main.cpp)
target_link_libraries(comlink-dump PRIVATE comlink pelkor_options)
