# Warning flags shared by every target of the project.
add_library(corvane_warnings INTERFACE)
target_compile_options(corvane_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(CORVANE_WERROR)
  target_compile_options(corvane_warnings INTERFACE -Werror)
endif()

# corvane_target(<target>): the project's common settings for one target.
function(corvane_target target)
  target_link_libraries(${target} PRIVATE corvane_warnings)
endfunction()
