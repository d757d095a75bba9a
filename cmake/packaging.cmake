# The Debian package (scripts/package): cpack -G DEB in a build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Pelkor developers <pelkor@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "spectrum analyser for a serial data-acquisition instrument")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pelkor drives a small serial data-acquisition instrument at 128000 baud,
takes a block of samples from one of its seven channels and shows its
spectrum with the fundamental, further peaks and the total harmonic
distortion, with cursor and marker readouts.

pelkor-measure takes the same measurements from a shell, with JSON and CSV
output; pelkor-instrument is a stand-in instrument on a pseudo-terminal.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PELKOR_HOMEPAGE})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
