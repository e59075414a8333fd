# Black-box tests of the service host: the real program with a temporary --data-root, a
# free --port and a temporary --unit-dir; and the log naming across two modules.

# A second module carrying the BaseLog unit; its copy of the support code stays private.
add_library(host_lognaming_module MODULE ${CMAKE_CURRENT_LIST_DIR}/host_lognaming_module.cpp)
target_link_libraries(host_lognaming_module PRIVATE dct_support)
target_link_options(host_lognaming_module PRIVATE -Wl,--exclude-libs,ALL)

dct_unit_test(NAME host_lognaming_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_lognaming_test.cpp
              LIBS dct_support ${CMAKE_DL_LIBS})
target_compile_definitions(host_lognaming_test PRIVATE
                           HOST_LOGNAMING_MODULE="$<TARGET_FILE:host_lognaming_module>")
add_dependencies(host_lognaming_test host_lognaming_module)

# The program as a process. Each group is its own CTest test so a failure names its case.
foreach(group StartAndStop StopWithClientsInFlight FailedStart InstallAndUninstall
              CommandLine UnderSystemd)
  add_test(NAME host_service_${group}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/host_service_test.py
                   $<TARGET_FILE:dct_korvelmobilesvc> -k ${group})
  set_tests_properties(host_service_${group} PROPERTIES LABELS blackbox TIMEOUT 300)
endforeach()
