# Warnings and sanitizers shared by every target of the project.
add_library(kestrova_options INTERFACE)
target_compile_options(kestrova_options INTERFACE -Wall -Wextra -Wpedantic)
if(KESTROVA_WERROR)
  target_compile_options(kestrova_options INTERFACE -Werror)
endif()
if(KESTROVA_SANITIZE)
  target_compile_options(kestrova_options INTERFACE -fsanitize=${KESTROVA_SANITIZE} -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=all)
  target_link_options(kestrova_options INTERFACE -fsanitize=${KESTROVA_SANITIZE})
endif()
