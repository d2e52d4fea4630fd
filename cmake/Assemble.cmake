# 68000 programs for tests and benchmarks are written in assembly and assembled at build time.
# vexil_assemble(TARGET <target> SOURCE <file.s> [ORIGIN <hex address>])
# produces <name>.bin (the raw bytes, loaded at ORIGIN: by default the address the file's first
# line gives as "| origin 0x...", else 0x1000) and <name>.sym (nm output) in
# ${VEXIL_ASM_DIR}, and makes <target> depend on them.
find_program(M68K_AS m68k-linux-gnu-as REQUIRED)
find_program(M68K_LD m68k-linux-gnu-ld REQUIRED)
find_program(M68K_OBJCOPY m68k-linux-gnu-objcopy REQUIRED)
find_program(M68K_NM m68k-linux-gnu-nm REQUIRED)
set(VEXIL_ASM_DIR ${CMAKE_BINARY_DIR}/asm)
file(MAKE_DIRECTORY ${VEXIL_ASM_DIR})

function(vexil_assemble)
    cmake_parse_arguments(ARG "" "TARGET;SOURCE;ORIGIN" "" ${ARGN})
    if(NOT ARG_ORIGIN)
        file(STRINGS ${ARG_SOURCE} first LIMIT_COUNT 1)
        set(ARG_ORIGIN 0x1000)
        if(first MATCHES "^\\| origin (0x[0-9A-Fa-f]+)")
            set(ARG_ORIGIN ${CMAKE_MATCH_1})
        endif()
    endif()
    get_filename_component(name ${ARG_SOURCE} NAME_WE)
    set(out ${VEXIL_ASM_DIR}/${name})
    add_custom_command(
        OUTPUT ${out}.bin ${out}.sym
        COMMAND ${M68K_AS} -m68000 --register-prefix-optional --fatal-warnings ${ARG_SOURCE} -o ${out}.o
        COMMAND ${M68K_LD} -Ttext=${ARG_ORIGIN} -o ${out}.elf ${out}.o
        COMMAND ${M68K_OBJCOPY} -O binary ${out}.elf ${out}.bin
        COMMAND ${M68K_NM} ${out}.elf > ${out}.sym
        DEPENDS ${ARG_SOURCE}
        COMMENT "Assembling ${name}.s"
        VERBATIM)
    set_property(TARGET ${ARG_TARGET} APPEND PROPERTY SOURCES ${out}.bin ${out}.sym)
endfunction()
