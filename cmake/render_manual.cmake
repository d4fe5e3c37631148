# Renders a manual page as plain text for Windows, where there is no man: mandoc's ASCII output
# without its overstrike emphasis, with CR LF line ends so that every Windows editor shows it.
# Usage: cmake -DMANDOC=path -DPAGE=in.1 -DTEXT=out.txt -P render_manual.cmake
foreach(required MANDOC PAGE TEXT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "render_manual.cmake needs -D${required}=...")
  endif()
endforeach()

execute_process(COMMAND ${MANDOC} -T ascii -O width=78 ${PAGE}
                OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "mandoc could not render ${PAGE} (status ${status}):\n${errors}")
endif()

# Bold is "c BS c" and underline "_ BS c": keep the character after each backspace.
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
