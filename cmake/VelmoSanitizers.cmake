# Sanitizers apply to everything we compile so that instrumented and
# uninstrumented code never mix inside one process.
if(VELMO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VELMO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VELMO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELMO_SANITIZE must be empty, 'address' or 'thread'")
endif()
