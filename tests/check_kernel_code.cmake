# Checks what the compiler made of the kernels, including the ones this CPU cannot
# run: no fused multiply-add anywhere in lagscan (it would change the bits), real
# 512-bit code in the AVX-512 kernel, and no kernel object defining a symbol that
# the linker could share with the rest of the program (an inline function emitted
# with AVX-512 instructions could be picked for code that runs everywhere).
#
# Run as: cmake -DPROGRAM=<lagscan> -DAVX512_OBJECTS=<objects> -DKERNEL_OBJECTS=<objects> -P check_kernel_code.cmake
find_program(OBJDUMP objdump REQUIRED)
find_program(NM nm REQUIRED)

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${PROGRAM} OUTPUT_VARIABLE code RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "\tvf(n)?m(add|sub)[a-z0-9]*" fused "${code}")
list(LENGTH fused fused_count)
if(fused_count GREATER 0)
  message(FATAL_ERROR "${PROGRAM} holds ${fused_count} fused multiply-add instructions")
endif()

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${AVX512_OBJECTS} OUTPUT_VARIABLE code512)
string(REGEX MATCHALL "\tv(mul|add)ps[^\n]*zmm" wide "${code512}")
list(LENGTH wide wide_count)
if(wide_count LESS 8)
  message(FATAL_ERROR "the AVX-512 kernel holds no 512-bit multiplies and adds")
endif()

foreach(object IN LISTS KERNEL_OBJECTS)
  execute_process(COMMAND ${NM} -C --defined-only ${object} OUTPUT_VARIABLE symbols)
  string(REPLACE "\n" ";" lines "${symbols}")
  foreach(line IN LISTS lines)
    # Weak and unique symbols are the ones the linker merges across objects.
    if(line MATCHES "^[0-9a-f]+ [WVu] ")
      message(FATAL_ERROR "${object} defines a shared symbol: ${line}")
    endif()
    if(line MATCHES "^[0-9a-f]+ [TDBR] (.*)$" AND NOT CMAKE_MATCH_1 MATCHES "^lag_(portable|avx2|avx512)::")
      message(FATAL_ERROR "${object} defines a symbol outside its namespace: ${line}")
    endif()
  endforeach()
endforeach()
message(STATUS "no fused multiply-add; ${wide_count} 512-bit multiplies and adds; kernel symbols stay private")
