# --backup against the real program during a stream of document pushes, and the restore.
add_test(NAME backup_under_load
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/backup_test.py $<TARGET_FILE:dct_korvelmobilesvc>)
set_tests_properties(backup_under_load PROPERTIES LABELS blackbox TIMEOUT 600)
