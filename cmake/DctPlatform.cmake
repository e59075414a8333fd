# The platform seam's one way into the build (the units are CONTRIBUTING's seam table).
#
# dct_platform_sources(<target> [TESTS] [ONLY posix|windows] <Unit> ...)
# Adds to <target> each unit's half of this platform, <Unit>_${DCT_PLATFORM}.cpp from the folder
# of the calling CMakeLists.txt; with TESTS the tests of that half, <Unit>_${DCT_PLATFORM}_test.cpp.
# ONLY names the one platform that has such a half: elsewhere nothing is added. A half that is
# not there stops the configuration, so a unit cannot lose its other platform unnoticed.
function(dct_platform_sources TARGET)
  cmake_parse_arguments(P "TESTS" "ONLY" "" ${ARGN})
  if(P_ONLY AND NOT P_ONLY MATCHES "^(posix|windows)$")
    message(FATAL_ERROR "dct_platform_sources: ONLY takes posix or windows, not '${P_ONLY}'")
  endif()
  if(P_ONLY AND NOT P_ONLY STREQUAL DCT_PLATFORM)
    return()
  endif()
  set(suffix _${DCT_PLATFORM})
  if(P_TESTS)
    string(APPEND suffix _test)
  endif()
  foreach(unit ${P_UNPARSED_ARGUMENTS})
    set(file ${unit}${suffix}.cpp)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${file})
      message(FATAL_ERROR "dct_platform_sources: ${CMAKE_CURRENT_SOURCE_DIR}/${file} is missing "
                          "(a unit of one platform takes ONLY)")
    endif()
    target_sources(${TARGET} PRIVATE ${file})
  endforeach()
endfunction()
