# Warnings are errors in all of our own code (third-party code is built apart).
function(rq_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wcast-align -Wunused -Woverloaded-virtual -Wformat=2 -Werror)
endfunction()
