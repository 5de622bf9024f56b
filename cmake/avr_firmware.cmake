# AVR firmware built with avr-gcc beside the host build: one ELF and one Intel-HEX file
# per call, with its size printed (avr-size) and checked against a limit.
#
#   tarnwick_add_avr_firmware(<name>
#       MCU <mcu>                      avr-gcc's -mmcu, e.g. atmega328p
#       F_CPU <hz>                     clock, passed as F_CPU
#       SOURCES <file>...              C sources, compiled and linked in one step
#       [DEPENDS <file>...]            headers and other inputs that trigger a rebuild
#       [DEFINES <NAME=VALUE>...]      further -D options
#       [INCLUDES <dir>...]            further -I options
#       [COMPILE_OPTIONS <opt>...]     further compiler options
#       [LINK_OPTIONS <opt>...]        further linker options (e.g. -Wl,--section-start=...)
#       [MAX_SIZE <bytes>]             fail the build when the flash image is larger
#       [NO_DATA]                      fail the build when the image has initialised data
#       [OUTPUT_DIR <dir>])            default ${PROJECT_BINARY_DIR}/firmware
#
# Makes <OUTPUT_DIR>/<name>.elf and <name>.hex and a target <name> built by "all".
# Does nothing (and says so once) when avr-gcc is missing; TARNWICK_AVR_FOUND tells.

find_program(TARNWICK_AVR_GCC avr-gcc)
find_program(TARNWICK_AVR_OBJCOPY avr-objcopy)
find_program(TARNWICK_AVR_SIZE avr-size)
if(TARNWICK_AVR_GCC AND TARNWICK_AVR_OBJCOPY AND TARNWICK_AVR_SIZE)
    set(TARNWICK_AVR_FOUND TRUE)
else()
    set(TARNWICK_AVR_FOUND FALSE)
    if(NOT TARNWICK_AVR_MISSING_SAID)
        message(STATUS "avr-gcc, avr-objcopy or avr-size not found: no AVR firmware is built")
        set(TARNWICK_AVR_MISSING_SAID TRUE CACHE INTERNAL "")
    endif()
endif()
set(TARNWICK_AVR_SIZE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/avr_size_check.cmake)

function(tarnwick_add_avr_firmware name)
    cmake_parse_arguments(PARSE_ARGV 1 fw "NO_DATA" "MCU;F_CPU;MAX_SIZE;OUTPUT_DIR"
                          "SOURCES;DEPENDS;DEFINES;INCLUDES;COMPILE_OPTIONS;LINK_OPTIONS")
    if(NOT TARNWICK_AVR_FOUND)
        return()
    endif()
    if(NOT fw_MCU OR NOT fw_F_CPU OR NOT fw_SOURCES)
        message(FATAL_ERROR "tarnwick_add_avr_firmware(${name}): MCU, F_CPU and SOURCES are needed")
    endif()
    if(NOT fw_OUTPUT_DIR)
        set(fw_OUTPUT_DIR ${PROJECT_BINARY_DIR}/firmware)
    endif()
    if(NOT fw_MAX_SIZE)
        set(fw_MAX_SIZE 0)
    endif()
    set(sources)
    foreach(src IN LISTS fw_SOURCES)
        get_filename_component(src ${src} ABSOLUTE)
        list(APPEND sources ${src})
    endforeach()
    set(depends)
    foreach(dep IN LISTS fw_DEPENDS)
        get_filename_component(dep ${dep} ABSOLUTE)
        list(APPEND depends ${dep})
    endforeach()
    set(flags -mmcu=${fw_MCU} -DF_CPU=${fw_F_CPU}UL -std=gnu11 -Os -Wall -Wextra -Werror)
    foreach(def IN LISTS fw_DEFINES)
        list(APPEND flags -D${def})
    endforeach()
    foreach(inc IN LISTS fw_INCLUDES)
        get_filename_component(inc ${inc} ABSOLUTE)
        list(APPEND flags -I${inc})
    endforeach()
    set(elf ${fw_OUTPUT_DIR}/${name}.elf)
    set(hex ${fw_OUTPUT_DIR}/${name}.hex)
    set(no_data OFF)
    if(fw_NO_DATA)
        set(no_data ON)
    endif()
    add_custom_command(OUTPUT ${hex} ${elf}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${fw_OUTPUT_DIR}
        COMMAND ${TARNWICK_AVR_GCC} ${flags} ${fw_COMPILE_OPTIONS} ${fw_LINK_OPTIONS}
                -o ${elf} ${sources}
        # Without a start-address record (type 3): the chip starts at its reset vector
        # anyway, and Tarnwick's own loader reads only record types 0, 1 and 2.
        COMMAND ${TARNWICK_AVR_OBJCOPY} -O ihex -R .eeprom -R .fuse -R .lock -R .signature
                --set-start 0 ${elf} ${hex}
        COMMAND ${CMAKE_COMMAND} -DSIZE=${TARNWICK_AVR_SIZE} -DELF=${elf} -DHEX=${hex}
                -DNAME=${name} -DMAX_SIZE=${fw_MAX_SIZE} -DNO_DATA=${no_data}
                -P ${TARNWICK_AVR_SIZE_SCRIPT}
        DEPENDS ${sources} ${depends} ${TARNWICK_AVR_SIZE_SCRIPT}
        COMMENT "Building AVR firmware ${name} (${fw_MCU}, ${fw_F_CPU} Hz)"
        VERBATIM)
    add_custom_target(${name} ALL DEPENDS ${hex})
endfunction()
