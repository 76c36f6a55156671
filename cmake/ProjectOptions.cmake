# Sanitizers apply to everything we build (also gtest's main, linked from the system).
if(BIFUEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings (and errors in CI) for our own targets only.
function(bifuel_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                         -Wno-missing-field-initializers)
  if(BIFUEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
