# One place for the language level, warnings and Qt defines that every Quillet target uses.
add_library(quillet_common_cfg INTERFACE)
target_compile_features(quillet_common_cfg INTERFACE cxx_std_20)
target_compile_options(quillet_common_cfg INTERFACE -Wall -Wextra -Wpedantic)
if(QUILLET_WERROR)
  target_compile_options(quillet_common_cfg INTERFACE -Werror)
endif()
target_compile_definitions(quillet_common_cfg INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_FOREACH
  QT_USE_QSTRINGBUILDER
)
# AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer on every Quillet target:
# the libraries, programs, server and tests. Undefined behaviour ends the process instead of
# being reported and carried on past, so a test cannot pass over it.
if(QUILLET_SANITIZE)
  set(quillet_sanitize_flags -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(quillet_common_cfg INTERFACE ${quillet_sanitize_flags})
  target_link_options(quillet_common_cfg INTERFACE ${quillet_sanitize_flags})
endif()

# quillet_add_test(NAME LABEL label SOURCES ... [LIBS ...] [ENV ...])
# One QtTest executable per area, registered with CTest under a label.
function(quillet_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE quillet_common_cfg Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(QUILLET_SANITIZE)
    # Instrumented code runs several times slower.
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}")
endfunction()

# `cmake --build build --target format` rewrites the sources in the repository's style.
find_program(CLANG_FORMAT clang-format)
if(CLANG_FORMAT)
  add_custom_target(format
    COMMAND sh -c "git ls-files -z -- '*.cpp' '*.h' | xargs -0 '${CLANG_FORMAT}' -i"
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Formatting sources with clang-format"
    VERBATIM)
endif()
# Debian's hardening for the programs (the service faces the network): fortified C library calls
# where optimised, stack protection, and relocations read-only and bound at start.
if(NOT QUILLET_SANITIZE)
  target_compile_options(quillet_common_cfg INTERFACE -fstack-protector-strong
    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  target_link_options(quillet_common_cfg INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()
