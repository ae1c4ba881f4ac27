# Fails when a shipped library is larger than its budget.
# Run with -DLIBRARY=<file> -DMAX_BYTES=<n>.
file(SIZE "${LIBRARY}" size)
get_filename_component(name "${LIBRARY}" NAME)
math(EXPR kib "(${size} + 1023) / 1024")
math(EXPR budget_kib "${MAX_BYTES} / 1024")
message(STATUS "${name}: ${size} bytes (${kib} KiB; budget ${MAX_BYTES} bytes, ${budget_kib} KiB)")
if(size GREATER MAX_BYTES)
  message(FATAL_ERROR "${name} is ${size} bytes, over its budget of ${MAX_BYTES}")
endif()
