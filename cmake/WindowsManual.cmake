# Renders the manual page MANUAL as plain ASCII text with Windows line ends
# into OUTPUT (cmake -DMANUAL=... -DOUTPUT=... -P WindowsManual.cmake).
execute_process(COMMAND mandoc -T ascii -O width=78 ${MANUAL} OUTPUT_VARIABLE text
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mandoc could not render ${MANUAL}")
endif()
# The terminal's bold and underline are a character, a backspace and another.
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
