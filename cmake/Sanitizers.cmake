# Sanitizer builds: VESPERLINE_SANITIZE=address,undefined or thread. Any report
# ends the process with a failure, so a sanitizer finding fails the test run.
if(VESPERLINE_SANITIZE)
  set(_san "-fsanitize=${VESPERLINE_SANITIZE}")
  add_compile_options(${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(${_san})
endif()
if(VESPERLINE_MALLOC_BLOCKS)
  add_compile_definitions(VESPERLINE_MALLOC_BLOCKS=1)
endif()
