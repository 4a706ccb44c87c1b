# vorx_add_fuzzer(<name> SOURCES <files...> [LIBS <targets...>]
#                 [SEED_GENERATOR <target>] [SEED_DIRS <dirs...>]
#                 [MAX_LEN <bytes>] [SECONDS <seconds>])
#
# Builds a fuzz target: a program defining LLVMFuzzerTestOneInput.
# - With VORX_FUZZ (the native-san preset, clang): a libFuzzer binary built with
#   -fsanitize=fuzzer on top of the preset's address and undefined-behaviour
#   sanitizers, registered with ctest as a short run (SECONDS, default 25) that starts
#   from the seed corpus and keeps what it finds in build/<preset>/tests/fuzz/corpus/<name>.
# - Otherwise: the same target linked with a replay main that runs every seed once,
#   registered as a plain test (so the seeds also run under Wine in the win64 build).
# SEED_GENERATOR names a program that writes seed files into the folder it is given;
# it runs as a ctest fixture before the target, into build/.../seeds/<name>. SEED_DIRS
# are further seed folders (missing ones are skipped, e.g. the conformance sample).
# scripts/fuzz (make fuzz) runs every target registered here for longer.
set(VORX_FUZZ_TARGETS_FILE ${CMAKE_BINARY_DIR}/fuzz-targets.txt)
file(WRITE ${VORX_FUZZ_TARGETS_FILE} "")

function(vorx_add_fuzzer name)
  cmake_parse_arguments(ARG "" "SEED_GENERATOR;MAX_LEN;SECONDS" "SOURCES;LIBS;SEED_DIRS" ${ARGN})
  if(NOT ARG_MAX_LEN)
    set(ARG_MAX_LEN 16384)
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 25)
  endif()
  set(work ${CMAKE_BINARY_DIR}/tests/fuzz)
  set(seeds ${work}/seeds/${name})
  set(corpus ${work}/corpus/${name})
  file(MAKE_DIRECTORY ${seeds} ${corpus})

  set(dirs ${seeds})
  foreach(dir ${ARG_SEED_DIRS})
    if(EXISTS ${dir})
      list(APPEND dirs ${dir})
    endif()
  endforeach()

  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} libvorx vorx_warnings)

  set(generator "")
  if(ARG_SEED_GENERATOR)
    add_test(NAME ${name}_seeds COMMAND ${ARG_SEED_GENERATOR} ${seeds})
    set_tests_properties(${name}_seeds PROPERTIES FIXTURES_SETUP ${name}_seeds LABELS fuzz ${VORX_TEST_SKIP})
    set(generator ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${ARG_SEED_GENERATOR})
  endif()

  if(VORX_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${ARG_SECONDS} -max_len=${ARG_MAX_LEN}
             -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix=${work}/artifacts/${name}- ${corpus} ${dirs})
    file(MAKE_DIRECTORY ${work}/artifacts)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    add_test(NAME ${name} COMMAND ${name} ${dirs})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS fuzz ENVIRONMENT "TZ=UTC0" ${VORX_TEST_SKIP})
  if(ARG_SEED_GENERATOR)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}_seeds)
  endif()

  # One line per target for scripts/fuzz: name|binary|max_len|generator|seed folder|corpus|more seed folders
  list(REMOVE_AT dirs 0)
  string(REPLACE ";" "|" more "${dirs}")
  file(APPEND ${VORX_FUZZ_TARGETS_FILE}
       "${name}|${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name}|${ARG_MAX_LEN}|${generator}|${seeds}|${corpus}|${more}\n")
endfunction()
