# An install holds the program as a package does: stripped of its symbols and
# debug information, and of the sections Debian's own packages drop (.comment
# names the compiler, .note is empty).
if(CMAKE_STRIP AND NOT WIN32 AND NOT APPLE)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                    --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:talvern>\"
                    COMMAND_ERROR_IS_FATAL ANY)")
endif()

# A Debian package of the program: cpack -G DEB in the build folder (package.sh).
# Its maintainer and home page are the distributor's settings in data/.
# lintian --pedantic --display-info reports no error or warning on it
# (tests/install_test.sh), and one note that stays: hardening-no-fortify-functions.
# The program is built with _FORTIFY_SOURCE=2, but none of the libc calls it
# makes that have a checked variant (read, memcpy, memmove) gets one: each
# either has a size the compiler proves fits or writes where it cannot know the
# size, so there is no checked call for lintian to find.
set(CPACK_PACKAGE_NAME talvern)
set(CPACK_PACKAGE_VENDOR "TALVERN developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "capture an instrument's serial records in a text file")
# The extended description as the control file shows it: lines of at most 80
# characters, paragraphs apart by an empty line.
set(CPACK_PACKAGE_DESCRIPTION [[
TALVERN takes in the text records that a laboratory instrument, the
VELNORA-310, sends over an RS-232 serial line during its continuous upload,
shows the latest one, and saves every record, one per line, in a text file
that you name.

Each record reaches the file as soon as it arrives, so a capture can be left
running unattended, and a file or port that fails is reported by name.]])
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TALVERN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TALVERN_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The libraries it links are found by dpkg-shlibdeps; what it loads at run time
# (the window's fonts, Qt's platform plugins) is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-qpa-plugins")
include(CPack)
