# Warnings are errors in our own code; third-party headers come in as system headers.
add_library(tarnwick_warnings INTERFACE)
target_compile_options(tarnwick_warnings INTERFACE -Wall -Wextra -Werror)
