# Lists the dynamic symbols a shared library defines and fails on any that is
# not part of the documented interface: a member, type information or virtual
# table of a documented class, a documented function, or an operator on
# CString. Arguments: NM, LIBRARY, CLASSES and FUNCTIONS (comma-separated).
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "," "|" classes "${CLASSES}")
string(REPLACE "," "|" functions "${FUNCTIONS}")
string(REPLACE "::" "::" functions "${functions}")
set(allowed
  "^(${classes})::"
  "^(typeinfo for|typeinfo name for|vtable for) (${classes})$"
  "^(${functions})(\\(|$)"
  "^operator(\\+|==|!=|<)\\((CString const&, |char const\\*, CString const&\\))")
string(REPLACE "\n" ";" lines "${listing}")
set(bad "")
set(count 0)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # "<address> <type> <name>"
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  math(EXPR count "${count} + 1")
  set(ok FALSE)
  foreach(pattern IN LISTS allowed)
    if(name MATCHES "${pattern}")
      set(ok TRUE)
      break()
    endif()
  endforeach()
  if(NOT ok)
    list(APPEND bad "${name}")
  endif()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "symbols outside the documented interface:\n  ${text}")
endif()
if(count EQUAL 0)
  message(FATAL_ERROR "no dynamic symbols found in ${LIBRARY}")
endif()
message(STATUS "${count} exported symbols, all documented")
