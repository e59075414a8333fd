# Content codings against the real program: coded answers, coded catalogue loads, refusals.
add_test(NAME compression_over_http
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/compression_test.py
                 $<TARGET_FILE:dct_korvelmobilesvc>)
set_tests_properties(compression_over_http PROPERTIES LABELS blackbox TIMEOUT 300)
