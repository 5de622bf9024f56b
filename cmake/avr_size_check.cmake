# Prints the size of an AVR firmware and fails (removing its HEX file, so the next build
# tries again) when it is larger than MAX_SIZE bytes of flash, or, with NO_DATA, when it
# has initialised data that no start-up code would copy.
# Arguments: SIZE (avr-size), ELF, HEX, NAME, MAX_SIZE (0: no limit), NO_DATA (ON/OFF).
execute_process(COMMAND ${SIZE} --format=berkeley ${ELF} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    file(REMOVE ${HEX})
    message(FATAL_ERROR "avr-size failed on ${ELF}")
endif()
string(REGEX MATCH "\n[ \t]*([0-9]+)[ \t]+([0-9]+)[ \t]+([0-9]+)" line "${out}")
set(text ${CMAKE_MATCH_1})
set(data ${CMAKE_MATCH_2})
set(bss ${CMAKE_MATCH_3})
math(EXPR flash "${text} + ${data}")
if(MAX_SIZE GREATER 0)
    message(STATUS "${NAME}: ${flash} of ${MAX_SIZE} bytes of flash, ${bss} bytes of RAM")
else()
    message(STATUS "${NAME}: ${flash} bytes of flash, ${data} + ${bss} bytes of RAM")
endif()
if(MAX_SIZE GREATER 0 AND flash GREATER MAX_SIZE)
    file(REMOVE ${HEX})
    message(FATAL_ERROR "${NAME} is ${flash} bytes, more than its ${MAX_SIZE}")
endif()
if(NO_DATA AND data GREATER 0)
    file(REMOVE ${HEX})
    message(FATAL_ERROR "${NAME} has ${data} bytes of initialised data; it has no start-up code to copy them")
endif()
