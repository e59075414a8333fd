# The catalogue and document exchange over HTTP against in-process floors, and the
# GetItemInfo and PushDocumentData rates against Echo (about 1 minute in all).
add_executable(exchange_bench ${CMAKE_CURRENT_LIST_DIR}/exchange_bench.cpp)
target_link_libraries(exchange_bench PRIVATE dct_bench_fixture dct_values pugixml::pugixml SQLite::SQLite3)
add_custom_target(bench_exchange
  COMMAND exchange_bench $<TARGET_FILE:dct_korvelmobilesvc> 5
  DEPENDS exchange_bench dct_korvelmobilesvc
  USES_TERMINAL)
