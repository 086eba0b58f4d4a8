include(CheckLinkerFlag)

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

# LLVM's linker links our test programs (each with the whole application
# library and Qt) two to three times faster than the default one.
option(VX_USE_LLD "Link with lld when the compiler can" ON)
if(VX_USE_LLD AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  check_linker_flag(CXX "-fuse-ld=lld" VX_HAVE_LLD)
  if(VX_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()
