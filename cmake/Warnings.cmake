# One interface target that every first-party target links, so the warning set is
# decided in one place and CI can make it fatal.
add_library(project_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(project_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-qual
    -Wformat=2 -Wimplicit-fallthrough -Wconversion -Wsign-conversion
    -Wmissing-declarations
    # GCC 12 warns about designated initialisers that rely on default member
    # initialisers, which is exactly what they are for.
    -Wno-missing-field-initializers)
  if(WARNINGS_AS_ERRORS)
    target_compile_options(project_warnings INTERFACE -Werror)
  endif()
endif()
