# AVI_SANITIZE=address,undefined or AVI_SANITIZE=thread applies to every target of the build.
if(AVI_SANITIZE)
  string(REPLACE ";" "," _avi_san "${AVI_SANITIZE}")
  add_compile_options(-fsanitize=${_avi_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_avi_san})
endif()
# Fuzz builds give every library coverage counters, so libFuzzer steers by the parsers' own
# branches and not only by the fuzz target's.
if(AVI_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
