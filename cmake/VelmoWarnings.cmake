# Warning flags are applied per target (never globally) so third-party code we
# compile, like the generated branding table, stays under our control too.
#
# Beyond -Wall -Wextra -Wpedantic: shadowed names (a local hiding a member has
# hidden real bugs in work callbacks), implicit narrowing and sign changes (chunk
# offsets and sizes are 64-bit and unsigned; a silent int conversion truncates
# them), C-style casts, and polymorphic classes without virtual destructors or
# with hidden overloads.
set(VELMO_WARNING_FLAGS
    -Wall -Wextra -Wpedantic
    -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
    -Wnon-virtual-dtor -Woverloaded-virtual)

function(velmo_warnings target)
  target_compile_options(${target} PRIVATE ${VELMO_WARNING_FLAGS})
  if(VELMO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
