# Warnings are errors in our own code; third-party headers come in as system headers.
add_library(tarnwick_warnings INTERFACE)
target_compile_options(tarnwick_warnings INTERFACE -Wall -Wextra -Werror)
# GCC 12 at -O3 warns about std::string concatenation inside its own library
# (a known false positive of -Wrestrict); it stays a warning there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tarnwick_warnings INTERFACE -Wno-error=restrict)
endif()
