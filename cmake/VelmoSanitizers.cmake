# Sanitizers apply to everything we compile so that instrumented and
# uninstrumented code never mix inside one process.
if(VELMO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VELMO_SANITIZE STREQUAL "thread")
  # -Wno-tsan: GCC warns that Boost.Asio's atomic fences are not modelled by
  # TSan; Asio's queue also synchronizes through its mutex, which TSan sees.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  add_link_options(-fsanitize=thread)
elseif(NOT VELMO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELMO_SANITIZE must be empty, 'address' or 'thread'")
endif()
