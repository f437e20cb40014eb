# The probe's output must be the root file, byte for byte (CRLF included):
# both are compared in hexadecimal.
set(printed_file ${CMAKE_CURRENT_BINARY_DIR}/compiled_in_root.txt)
execute_process(COMMAND ${PROBE} --root OUTPUT_FILE ${printed_file} RESULT_VARIABLE status)
file(READ ${printed_file} printed HEX)
file(READ ${EXPECTED} expected HEX)
if(NOT status EQUAL 0 OR NOT printed STREQUAL expected OR expected STREQUAL "")
  message(FATAL_ERROR "the compiled-in root differs from ${EXPECTED}")
endif()
