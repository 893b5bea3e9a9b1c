# The fuzz targets, each built on the parser's own source files (as libusb's tests/fuzz/ does).
#
# In the linux preset (g++, AddressSanitizer and UBSan) a target runs under the replay driver:
# its corpus, then generated inputs from a fixed seed; a few seconds, in every test run.
# In the linux-fuzz preset (clang 14, KORVAN_FUZZ) it is a libFuzzer program that fuzzes for
# KORVAN_FUZZ_SECONDS from its seed corpus (tests/fuzz/corpus/<name>); a crash, a leak,
# undefined behaviour, a failed check of the target or a slow input fails the test, and libFuzzer
# leaves the input in build/linux-fuzz/fuzz/<name>/artifacts. Such an input is added to the seed
# corpus under a name that says what it broke.
set(KORVAN_FUZZ_SECONDS 45 CACHE STRING "How long each libFuzzer target runs in the fuzz test")

# korvan_fuzz_target(<name> MAX_LEN <bytes> SOURCES <files> [OWN_DRIVER])
#   name        the corpus directory and the test (fuzz.<name>); the program is <name>-fuzz
#   MAX_LEN     the longest input libFuzzer makes (and the replay driver generates)
#   SOURCES     the target and the parser files it is built on
#   OWN_DRIVER  the target brings its own main for the replay build
function(korvan_fuzz_target name)
  if(WIN32)
    return()  # the parsers are the same code on Windows; fuzzed on Linux
  endif()
  cmake_parse_arguments(F "OWN_DRIVER" "MAX_LEN" "SOURCES" ${ARGN})
  string(REPLACE "_" "-" program ${name}-fuzz)
  set(corpus ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/corpus/${name})
  if(KORVAN_FUZZ)
    add_executable(${program} ${F_SOURCES})
    target_include_directories(${program} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${program} PRIVATE KORVAN_LIBFUZZER)
    target_compile_options(${program} PRIVATE -fsanitize=fuzzer,address,undefined
                           -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${program} PRIVATE -fsanitize=fuzzer,address,undefined)
    # New inputs go to a corpus of the build; the seed corpus in the repository is only read.
    set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
    file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
    add_test(NAME fuzz.${name}
             COMMAND ${program} -max_total_time=${KORVAN_FUZZ_SECONDS} -max_len=${F_MAX_LEN}
                     -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                     -artifact_prefix=${work}/artifacts/ ${work}/corpus ${corpus})
    math(EXPR limit "${KORVAN_FUZZ_SECONDS} + 180")
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT ${limit})
  else()
    set(sources ${F_SOURCES})
    if(NOT F_OWN_DRIVER)
      list(APPEND sources ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/replay_main.cpp)
    endif()
    add_executable(${program} ${sources})
    target_include_directories(${program} PRIVATE ${PROJECT_SOURCE_DIR})
    add_test(NAME fuzz.${name}
             COMMAND ${program} ${corpus} --iterations 20000 --max-len ${F_MAX_LEN})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  endif()
endfunction()
