# The status page rendered by headless Chromium, /status.json and --status, against the real
# program after a known load over SOAP. Skipped (77) when chromium is not installed.
add_test(NAME status_page
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/status_page_test.py
                 $<TARGET_FILE:dct_korvelmobilesvc> ${PROJECT_VERSION})
set_tests_properties(status_page PROPERTIES LABELS blackbox TIMEOUT 300 SKIP_RETURN_CODE 77)
