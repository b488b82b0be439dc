# The two cores: linked for size, then padded with zero bytes to exactly 20480
# bytes. The build fails, naming the size, when a linked core is larger.
set(VARNOW_CORE_SIZE 20480)

set(VARNOW_CORE_COMPILE_FLAGS
  -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fwrapv
  -fno-threadsafe-statics -Wall -Wextra -Werror)
# On PE, -fdata-sections would store the zero-filled buffers in the file, and
# loops the compiler turns into library calls would call themselves in the
# routines that supply them.
set(VARNOW_WINDOWS_COMPILE_FLAGS ${VARNOW_CORE_COMPILE_FLAGS})
list(REMOVE_ITEM VARNOW_WINDOWS_COMPILE_FLAGS -fdata-sections)
list(APPEND VARNOW_WINDOWS_COMPILE_FLAGS -fno-tree-loop-distribute-patterns -mno-stack-arg-probe -fno-ident)

set(VARNOW_PAD_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/pad_core.cmake)

# pad_core(<output> <linked input> <target that makes it>)
function(varnow_pad_core output input)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DLIMIT=${VARNOW_CORE_SIZE}
            -P ${VARNOW_PAD_SCRIPT}
    DEPENDS ${input} ${VARNOW_PAD_SCRIPT}
    COMMENT "Padding ${output} to ${VARNOW_CORE_SIZE} bytes"
    VERBATIM)
endfunction()
