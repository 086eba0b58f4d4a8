# Warnings and sanitizers applied to every target of this project
# (function form so a parent project's own targets are left alone).
function(vx_target_defaults target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  endif()
  if(VX_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${VX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${VX_SANITIZE})
  endif()
endfunction()
