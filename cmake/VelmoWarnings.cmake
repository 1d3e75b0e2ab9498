# Warning flags are applied per target (never globally) so third-party code we
# compile, like the generated branding table, stays under our control too.
function(velmo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VELMO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
