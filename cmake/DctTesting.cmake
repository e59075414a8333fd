# dct_unit_test(NAME name SOURCES a_test.cpp ... LIBS lib ...)
# A unit test binary beside the code it tests; labelled "unit" so that the sanitizer pass
# (scripts/test) can run exactly these. Each links the tests' scaffolding (support/TestSupport.h).
function(dct_unit_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} dct_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES LABELS unit TIMEOUT 600
                       ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()
