# The folders of src/ are layers, each built on the ones beneath it only:
#   platform < hostlib < container, dv < video < audio < probe < api
# (dv needs only the platform's lock; audio reads through video's shared files; the probe
# applies the players' own tests). A layer's
# targets compile against an include root that links in itself and what lies beneath, so
# "container/riff_reader.h" keeps its spelling and an include of a layer above does not build.
# The public headers (include/avikit/) are the bottom of every layer.
# What sits above every layer (cli/, tools/, tests/, bench/, fuzz/, python/) sees all of src/.
set(AVI_LAYER_platform platform)
set(AVI_LAYER_hostlib ${AVI_LAYER_platform} hostlib)
set(AVI_LAYER_container ${AVI_LAYER_hostlib} container)
set(AVI_LAYER_dv ${AVI_LAYER_platform} dv)
set(AVI_LAYER_video ${AVI_LAYER_container} dv video)
set(AVI_LAYER_audio ${AVI_LAYER_video} audio)
set(AVI_LAYER_probe ${AVI_LAYER_audio} probe)
set(AVI_LAYER_api ${AVI_LAYER_probe} api)

# avi_layer(<target> <layer>): <target> sees <layer> and the layers beneath it.
function(avi_layer target layer)
  if(NOT DEFINED AVI_LAYER_${layer})
    message(FATAL_ERROR "avi_layer: no layer '${layer}'")
  endif()
  set(root ${PROJECT_BINARY_DIR}/layers/${layer})
  foreach(dir IN LISTS AVI_LAYER_${layer})
    if(NOT EXISTS ${root}/${dir})
      file(MAKE_DIRECTORY ${root})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${dir} ${root}/${dir} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE ${root} ${PROJECT_SOURCE_DIR}/include)
endfunction()
