# --import-items and --export-documents as clients of the real program over SOAP.
add_test(NAME operator_commands
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/operator_test.py $<TARGET_FILE:dct_korvelmobilesvc>)
set_tests_properties(operator_commands PROPERTIES LABELS blackbox TIMEOUT 300)
