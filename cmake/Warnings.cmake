# vesperline_target(<target>): the project's include root and warning flags.
function(vesperline_target target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(VESPERLINE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
