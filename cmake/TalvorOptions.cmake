# Warnings and sanitizer flags for every target of the project.
add_compile_options(-Wall -Wextra)
if(TALVOR_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()

if(TALVOR_SANITIZE)
  string(REPLACE ";" "," _talvor_san "${TALVOR_SANITIZE}")
  add_compile_options(-fsanitize=${_talvor_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_talvor_san})
endif()
