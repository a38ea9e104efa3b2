# Installing kmov and making its Debian package.
#
#   cmake --install build/native --prefix PREFIX
#
# puts kmov in PREFIX/bin and the player templates, stripped, in
# PREFIX/share/kmov: kmovsp, and kmovsp.exe when the windows preset has been
# built beside this build (build/windows, or KMOV_WINDOWS_PLAYER). kmov finds
# them there from its own location, so the installed tree can be moved.
#
#   cpack -G DEB   (in build/native)
#
# makes the Debian package of the same files and the README.
include(GNUInstallDirs)

set(KMOV_WINDOWS_PLAYER "${CMAKE_BINARY_DIR}/../windows/app/kmovsp.exe"
    CACHE FILEPATH "The Windows player template installed beside the Linux one, when built")
set(KMOV_TEMPLATE_DIR ${CMAKE_INSTALL_DATADIR}/kmov)

install(PROGRAMS $<TARGET_FILE:kmovsp> DESTINATION ${KMOV_TEMPLATE_DIR})
# The template is built with debug information; every program packed from
# it would carry that. (The Windows template is linked stripped.)
find_program(KMOV_STRIP NAMES strip REQUIRED)
install(CODE "execute_process(COMMAND \"${KMOV_STRIP}\" --strip-all
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KMOV_TEMPLATE_DIR}/kmovsp\"
                  COMMAND_ERROR_IS_FATAL ANY)")
install(PROGRAMS ${KMOV_WINDOWS_PLAYER} DESTINATION ${KMOV_TEMPLATE_DIR} OPTIONAL)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME kmov)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "kmov developers <kmov@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes self-playing movies for Windows and Linux")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kmov)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The libraries kmov and the Linux player link (the FFmpeg libraries,
# libimagequant, SDL2, libpng, X11), with the versions dpkg-shlibdeps reads
# from the installed packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
