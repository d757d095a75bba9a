# The abstract port, the link and its snapshots, and the time seam.
target_sources(comlink PRIVATE port.cpp link.cpp clock.cpp)
if(WIN32)
  target_sources(comlink PRIVATE report_win.cpp)
  target_link_libraries(comlink PUBLIC user32)
else()
  target_sources(comlink PRIVATE report_stderr.cpp)
endif()
