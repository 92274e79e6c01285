# Warnings: always shown; errors only where someone can act on them at once.
# `make` and CI turn TW_WERROR on. A packager's own build (other compiler,
# other flags, a newer release) stays buildable when it meets a new warning.
option(TW_WERROR "Treat compiler warnings as errors (developers and CI)" OFF)
add_compile_options(-Wall -Wextra)
if(TW_WERROR)
  add_compile_options(-Werror)
endif()
