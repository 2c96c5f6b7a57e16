# The check code: the two 16-bit words the reader's firmware expects in the check
# that precedes every tag operation. It is fixed when tagport is built, and written
# into a generated header that the library and tagport-probe both include, so the
# probe reports the code its library sends without an extra export.

# Reads "FIRST:SECOND", each word one to four hex digits with an optional 0x, into
# <out>_FIRST and <out>_SECOND ("0x5AA5"), or sets <out>_ERROR.
function(tagport_parse_check_code text out)
  set(_hex "([0-9A-Fa-f][0-9A-Fa-f]?[0-9A-Fa-f]?[0-9A-Fa-f]?)")
  if(NOT text MATCHES "^(0[xX])?${_hex}:(0[xX])?${_hex}$")
    set(${out}_ERROR "\"${text}\" is not two 16-bit hex words like 0x5AA5:0x0F1E" PARENT_SCOPE)
    return()
  endif()
  set(${out}_ERROR "" PARENT_SCOPE)
  foreach(_part IN ITEMS 2:FIRST 4:SECOND)
    string(REPLACE ":" ";" _part "${_part}")
    list(GET _part 0 _group)
    list(GET _part 1 _name)
    string(TOUPPER "${CMAKE_MATCH_${_group}}" _digits)
    string(LENGTH "${_digits}" _length)
    while(_length LESS 4)
      string(PREPEND _digits "0")
      math(EXPR _length "${_length} + 1")
    endwhile()
    set(${out}_${_name} "0x${_digits}" PARENT_SCOPE)
  endforeach()
endfunction()

# Writes <directory>/tagport_check_code.h for the code "FIRST:SECOND"; configuration
# stops on a malformed code.
function(tagport_write_check_code_header directory code)
  tagport_parse_check_code("${code}" _code)
  if(_code_ERROR)
    message(FATAL_ERROR "TAGPORT_CHECK_CODE: ${_code_ERROR}")
  endif()
  set(TAGPORT_CHECK_CODE_FIRST ${_code_FIRST})
  set(TAGPORT_CHECK_CODE_SECOND ${_code_SECOND})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/tagport_check_code.h.in
                 ${directory}/tagport_check_code.h @ONLY)
endfunction()
