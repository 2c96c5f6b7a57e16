# The TAGPORT_CHECK_CODE setting: two hex words of up to four digits, with or without
# 0x, in either case; anything else stops the configuration.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/TagportCheckCode.cmake)

foreach(case IN ITEMS "0x5AA5:0x0F1E=0x5AA5:0x0F1E" "5aa5:f1e=0x5AA5:0x0F1E"
                      "0XFFFF:0=0xFFFF:0x0000")
  string(REPLACE "=" ";" case "${case}")
  list(GET case 0 text)
  list(GET case 1 expected)
  tagport_parse_check_code("${text}" code)
  if(code_ERROR OR NOT "${code_FIRST}:${code_SECOND}" STREQUAL expected)
    message(FATAL_ERROR "\"${text}\" read as ${code_FIRST}:${code_SECOND} (${code_ERROR})")
  endif()
endforeach()

foreach(text IN ITEMS "" "5AA5" "0x5AA5;0x0F1E" "0x10000:1" "1:2:3" "0x:1" "g:1" " 1:2")
  tagport_parse_check_code("${text}" code)
  if(NOT code_ERROR)
    message(FATAL_ERROR "\"${text}\" accepted as ${code_FIRST}:${code_SECOND}")
  endif()
endforeach()
