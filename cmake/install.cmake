# `cmake --install` puts in place what a program using avikit needs, and nothing of the tests:
#   lib/      libavikit (the module), libquorrin (host media library), libqrsuppt (support imaging
#             library), libavi_platform (the Windows subset beneath them)
#   bin/      the avikit tool, which finds those libraries through its RUNPATH
#   include/avikit/   the public headers, as the source tree holds them under include/avikit/:
#             the players, the probe, the host library's types, the modern readers, every name in
#             namespace avikit; platform/ holds only what a host needs to install a codec driver
#   lib/cmake/avikit/ find_package(avikit): imported targets avikit::avikit (links the rest),
#             avikit::quorrin, avikit::qrsuppt, avikit::platform
#   lib/pkgconfig/avikit.pc
# Users include <avikit/avi_video_player.h>, from the build tree and an installed tree alike.
# scripts/check-package.sh installs into a scratch prefix and builds examples/host against it.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(AVI_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/avikit)

# include/avikit/ is the public surface as a whole. scripts/check-package.sh fails when the module
# exports a player whose header is not there.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/avikit DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The DV decoder on its own, for hosts that decode DV frames themselves.
install(FILES ${PROJECT_SOURCE_DIR}/src/dv/frame_decoder.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/avikit/dv)

# The public headers use C++20 (std::span); users' targets get it from the imported target.
target_compile_features(avikit INTERFACE cxx_std_20)
set_target_properties(avi_platform PROPERTIES EXPORT_NAME platform)

# Relative run paths, so the installed tree works wherever --prefix puts it: the libraries find
# each other beside themselves, the tool finds them from bin/.
file(RELATIVE_PATH _avi_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(avikit quorrin qrsuppt avi_platform PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(avikit_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_avi_bin_to_lib}")

install(TARGETS avikit quorrin qrsuppt avi_platform EXPORT avikit-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS avikit_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT avikit-targets NAMESPACE avikit:: DESTINATION ${AVI_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/avikit-config.cmake.in
                              ${PROJECT_BINARY_DIR}/avikit-config.cmake
                              INSTALL_DESTINATION ${AVI_INSTALL_CMAKEDIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/avikit-config-version.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/avikit-config.cmake
              ${PROJECT_BINARY_DIR}/avikit-config-version.cmake
        DESTINATION ${AVI_INSTALL_CMAKEDIR})

# pkg-config: the prefix is found from the .pc file's own place, so the file stays right when
# the tree is installed with another --prefix or moved.
function(avi_pc_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
string(REGEX MATCHALL "[^/]+" _avi_pc_parts "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
set(AVI_PC_PREFIX "\${pcfiledir}")
foreach(part IN LISTS _avi_pc_parts)
  string(APPEND AVI_PC_PREFIX "/..")
endforeach()
avi_pc_path(AVI_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
avi_pc_path(AVI_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/avikit.pc.in ${PROJECT_BINARY_DIR}/avikit.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/avikit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
