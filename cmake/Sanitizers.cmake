# Sanitizer builds: 'address' gives AddressSanitizer with UndefinedBehaviorSanitizer,
# 'thread' gives ThreadSanitizer. Applied to everything the build compiles and links.
if(CORVANE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(CORVANE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT CORVANE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "CORVANE_SANITIZE must be empty, 'address' or 'thread'")
endif()
