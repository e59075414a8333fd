# The whole catalogue and document exchange over SOAP against the real program.
add_test(NAME exchange_over_soap
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/exchange_test.py
                 $<TARGET_FILE:dct_korvelmobilesvc>)
set_tests_properties(exchange_over_soap PROPERTIES LABELS blackbox TIMEOUT 300)
