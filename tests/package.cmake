# The Debian package: built by cpack from this tree into a temporary folder, then its contents,
# its unit, its man page and lintian's verdict checked (scripts/package makes the one to ship).
add_test(NAME deb_package
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/package_test.py ${CMAKE_BINARY_DIR}
                 ${CMAKE_SOURCE_DIR})
set_tests_properties(deb_package PROPERTIES LABELS blackbox TIMEOUT 300)
