# The chips the bootloader is built for, shared with the host's tests of its protocol
# (tests/firmware), so that those run the configuration the chips run.
# mcu, flash bytes, page bytes, signature[, boot section bytes where it is not the build's
# TARNWICK_BOOT_SECTION_SIZE]. A buffer-full is a page (the top of the flash is
# written while the host waits for its acknowledgement); the receive FIFO holds one with
# every byte escaped.
set(tarnwick_boot_chips
    "atmega8:8192:64:1E9307"
    "atmega88:8192:64:1E930A"
    "atmega168:16384:128:1E9406"
    "atmega328p:32768:128:1E950F"
    "atmega644p:65536:256:1E960A"
    # 2 KiB (BOOTSZ: 1024 words): its 24-bit addresses and reads above 64 KiB fill 1 KiB to
    # the last byte with a 4-character password; 2 KiB takes any password and leaves
    # 98 % of its flash to the application.
    "atmega1284p:131072:256:1E9705:2048"
    "atmega88p:8192:64:1E930F"
    "atmega16:16384:128:1E9403"
    "atmega32:32768:128:1E9502"
    "atmega644:65536:256:1E9609")

# Sets <prefix>_flash, _page, _section, _app, _sig0, _sig1 and _sig2 for one entry of the
# list, with the boot section's size given for entries that name none.
function(tarnwick_boot_chip_config entry section prefix)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 1 flash)
    list(GET entry 2 page)
    list(GET entry 3 sig)
    list(LENGTH entry fields)
    if(fields GREATER 4)
        list(GET entry 4 section)
    endif()
    math(EXPR app "${flash} - ${section}")
    string(SUBSTRING ${sig} 0 2 sig0)
    string(SUBSTRING ${sig} 2 2 sig1)
    string(SUBSTRING ${sig} 4 2 sig2)
    foreach(v flash page section app sig0 sig1 sig2)
        set(${prefix}_${v} ${${v}} PARENT_SCOPE)
    endforeach()
endfunction()
