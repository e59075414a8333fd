# The Debian package dct-korvelmobile (scripts/package runs cpack): the program in /usr/sbin,
# the hardened unit, the maintainer scripts, the man page, copyright and changelog. Its
# install rules belong to the component "deb", left out of a plain "cmake --install", since
# the unit names /usr/sbin and /lib whatever the prefix.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()  # the Windows cross build has its archive (scripts/package-windows)
endif()

set(DCT_DEB_NAME dct-korvelmobile)
set(DCT_DEB_REVISION 1)
set(DCT_DEB_VERSION ${PROJECT_VERSION}-${DCT_DEB_REVISION})
set(DCT_DEB_MAINTAINER "dct_korvelmobile maintainers <maintainers@users.noreply.c-seed-ecd3d4f9.example>")
set(DCT_DEB_SOURCE ${CMAKE_SOURCE_DIR}/packaging/debian)
set(DCT_DEB_DOC share/doc/${DCT_DEB_NAME})

# A version without its changelog entry would ship a changelog that lintian rejects.
file(STRINGS ${DCT_DEB_SOURCE}/changelog DCT_DEB_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT DCT_DEB_CHANGELOG_TOP MATCHES "^${DCT_DEB_NAME} \\(${DCT_DEB_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog must begin with the entry of ${DCT_DEB_VERSION}")
endif()

# Debian wants the man page and the changelog compressed with gzip -9n (no name, no time).
set(DCT_DEB_BUILT ${CMAKE_BINARY_DIR}/packaging)
set(DCT_DEB_GZIPPED)
foreach(pair "dct_korvelmobilesvc.8;dct_korvelmobilesvc.8.gz" "changelog;changelog.Debian.gz")
  list(GET pair 0 from)
  list(GET pair 1 to)
  add_custom_command(OUTPUT ${DCT_DEB_BUILT}/${to}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${DCT_DEB_BUILT}
                     COMMAND gzip -9nc ${DCT_DEB_SOURCE}/${from} > ${DCT_DEB_BUILT}/${to}
                     DEPENDS ${DCT_DEB_SOURCE}/${from} VERBATIM)
  list(APPEND DCT_DEB_GZIPPED ${DCT_DEB_BUILT}/${to})
endforeach()
add_custom_target(deb_docs ALL DEPENDS ${DCT_DEB_GZIPPED})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The whole global offset table read-only once the program is loaded (relro is the default).
target_link_options(dct_korvelmobilesvc PRIVATE -Wl,-z,relro -Wl,-z,now)
install(TARGETS dct_korvelmobilesvc RUNTIME DESTINATION sbin COMPONENT deb EXCLUDE_FROM_ALL)
# Stripped as dh_strip does it: the symbols, and the compiler's .comment and .note too.
install(CODE "execute_process(COMMAND ${CMAKE_STRIP} --remove-section=.comment --remove-section=.note
                                      --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/sbin/dct_korvelmobilesvc\"
                              COMMAND_ERROR_IS_FATAL ANY)"
        COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${DCT_DEB_SOURCE}/dct_korvelmobile.service DESTINATION /lib/systemd/system
        COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${DCT_DEB_BUILT}/dct_korvelmobilesvc.8.gz DESTINATION share/man/man8
        COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${DCT_DEB_SOURCE}/copyright ${DCT_DEB_BUILT}/changelog.Debian.gz
        DESTINATION ${DCT_DEB_DOC} COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${DCT_DEB_SOURCE}/lintian-overrides DESTINATION share/lintian/overrides
        RENAME ${DCT_DEB_NAME} COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${DCT_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# One package of the component "deb" alone.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${DCT_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DCT_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the linked libraries; the engine is opened with dlopen, and the
# postinst creates the service's user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0, adduser")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mobile data-collection terminal server")
# The extended description; CPack puts the summary before it and indents each line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A SOAP web service over HTTP (port 7211) between an accounting system and
the handheld terminals of shops and warehouses. The accounting system's
equipment driver loads the goods catalogue and collects documents; the
terminals download the catalogue, look items up by barcode and exchange
documents. Each device keeps its items and documents in a local SQLite data
buffer, so the two sides need not be on line together.

The package runs the server as the systemd unit dct_korvelmobile.service,
under its own system user, with its data in /var/lib/dct-korvelmobile.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${DCT_DEB_SOURCE}/postinst ${DCT_DEB_SOURCE}/prerm ${DCT_DEB_SOURCE}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
