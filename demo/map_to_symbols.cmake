# nasm's map of a flat binary (MAP) as a symbol file (SYMBOLS) in the form
# Bochs's ldsym reads: one "ADDRESS NAME" line per label, the address in
# hexadecimal, in the map's order.
#   cmake -DMAP=demo.map -DSYMBOLS=demo.sym -P map_to_symbols.cmake
file(STRINGS ${MAP} lines)
set(in_symbols FALSE)
set(out "")
foreach(line IN LISTS lines)
  if(line MATCHES "^Real +Virtual +Name")
    set(in_symbols TRUE)
  elseif(in_symbols AND line MATCHES "^ *([0-9A-Fa-f]+) +([0-9A-Fa-f]+) +([^ ]+) *$")
    string(TOLOWER "${CMAKE_MATCH_2}" address)
    string(LENGTH "${address}" digits)
    while(digits LESS 8)
      string(PREPEND address "0")
      math(EXPR digits "${digits} + 1")
    endwhile()
    string(APPEND out "${address} ${CMAKE_MATCH_3}\n")
  endif()
endforeach()
if(out STREQUAL "")
  message(FATAL_ERROR "no symbols in ${MAP}")
endif()
file(WRITE ${SYMBOLS} "${out}")
