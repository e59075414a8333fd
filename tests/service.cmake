# Web service front: black-box tests over real sockets, and the interop test with a real
# SOAP client stack (python3-suds) against a small server executable.

add_executable(service_http_test ${CMAKE_CURRENT_LIST_DIR}/service_http_test.cpp)
target_link_libraries(service_http_test PRIVATE dct_service GTest::gtest GTest::gtest_main)
target_compile_definitions(service_http_test PRIVATE
  DCT_WIRE_SAMPLES="${CMAKE_CURRENT_LIST_DIR}/fixtures/wire-samples")
add_test(NAME service_http_test COMMAND service_http_test)
set_tests_properties(service_http_test PROPERTIES LABELS blackbox TIMEOUT 300)

# Enables the single device on a port with a temporary data root, as the host will; the
# interop test drives it until the host program takes its place.
add_executable(service_testserver ${CMAKE_CURRENT_LIST_DIR}/service_testserver.cpp)
target_link_libraries(service_testserver PRIVATE dct_service)

add_test(NAME service_interop
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/service_interop_test.py
                 $<TARGET_FILE:service_testserver>)
set_tests_properties(service_interop PROPERTIES LABELS blackbox TIMEOUT 120)
