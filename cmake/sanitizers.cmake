# AVI_SANITIZE=address,undefined or AVI_SANITIZE=thread applies to every target of the build.
if(AVI_SANITIZE)
  string(REPLACE ";" "," _avi_san "${AVI_SANITIZE}")
  add_compile_options(-fsanitize=${_avi_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_avi_san})
endif()
