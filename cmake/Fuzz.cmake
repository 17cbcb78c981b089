# CORVANE_FUZZ: everything is built for libFuzzer with clang, under AddressSanitizer and
# UndefinedBehaviorSanitizer; the fuzz targets (tests/fuzz) then link libFuzzer's main.
if(CORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVANE_FUZZ needs clang++ (CMAKE_CXX_COMPILER=clang++)")
  endif()
  if(NOT CORVANE_SANITIZE STREQUAL "")
    message(FATAL_ERROR "CORVANE_FUZZ brings its own sanitizers: leave CORVANE_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined
                      -fsanitize-coverage-ignorelist=${CMAKE_CURRENT_LIST_DIR}/fuzz-coverage-ignore.txt)
  add_link_options(-fsanitize=address,undefined)
endif()
