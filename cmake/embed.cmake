# Writes an assembler file that carries each file byte for byte in read-only data,
# with a 64-bit length beside it. Arguments: OUT followed by symbol/file pairs.
function(ovra_write_incbin out)
  set(asm "    .section .rdata,\"dr\"\n")
  set(deps "")
  list(LENGTH ARGN n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET ARGN ${i} sym)
    list(GET ARGN ${j} path)
    string(APPEND asm
      "    .balign 16\n    .globl ${sym}\n${sym}:\n    .incbin \"${path}\"\n${sym}_end:\n"
      "    .balign 8\n    .globl ${sym}_size\n${sym}_size:\n    .quad ${sym}_end - ${sym}\n")
    list(APPEND deps ${path})
  endforeach()
  file(CONFIGURE OUTPUT ${out} CONTENT "${asm}" @ONLY)
  set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS "${deps}" GENERATED TRUE)
endfunction()
