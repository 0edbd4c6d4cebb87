# nm's listing of an executable, written to a file:
#   cmake -DNM=nm -DIN=demo.elf -DOUT=demo.nm -P list_symbols.cmake
execute_process(COMMAND ${NM} ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} ${IN} failed: ${status}")
endif()
