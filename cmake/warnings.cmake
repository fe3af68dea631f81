add_library(avi_warnings INTERFACE)
target_compile_options(avi_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  $<$<BOOL:${AVI_WERROR}>:-Werror>)
