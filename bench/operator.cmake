# --import-items of a 100,000-item CSV catalogue, read back with DownloadItems and compared,
# against a SaveItemsToBuff of the same catalogue posted directly over SOAP to the same
# server, alternating, in one run (3 rounds by default, about half a minute in all).
add_executable(operator_bench ${CMAKE_CURRENT_LIST_DIR}/operator_bench.cpp)
target_link_libraries(operator_bench PRIVATE dct_host dct_bench_fixture dct_values pugixml::pugixml
                      SQLite::SQLite3)
add_custom_target(bench_operator
  COMMAND operator_bench $<TARGET_FILE:dct_korvelmobilesvc> 3
  DEPENDS operator_bench dct_korvelmobilesvc
  USES_TERMINAL)
