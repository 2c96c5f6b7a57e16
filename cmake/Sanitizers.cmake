if(ENABLE_SANITIZERS)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_san})
  add_link_options(-fsanitize=address,undefined)
endif()

# libFuzzer's coverage instrumentation for every first-party object; only the fuzz
# targets themselves link libFuzzer's main (fuzz/CMakeLists.txt).
if(ENABLE_FUZZING)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ENABLE_FUZZING needs clang (the fuzz preset uses clang-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
