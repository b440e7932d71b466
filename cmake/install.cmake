# What `cmake --install` puts where, in two components for the packages:
#   zelp         bin/zelp, share/man/man1/zelp.1
#   libkud-dev   include/kud/..., lib/libkud.a, lib/cmake/kud/ (find_package(kud)),
#                lib/pkgconfig/kud.pc
# Every installed path is relative to the prefix, so an installation can be moved or unpacked
# anywhere: the CMake package and kud.pc find the prefix from where they lie.
include(CMakePackageConfigHelpers)

install(TARGETS zelp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zelp)
install(FILES ${PROJECT_SOURCE_DIR}/zelp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT zelp)

# The library. Its exported target carries the include folder, C++20 and the threads, none of
# the warning flags (they are set privately).
set(kud_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kud)
install(TARGETS kud EXPORT kudTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libkud-dev
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libkud-dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# With link-time optimisation the objects also hold GCC's intermediate code, which only the same
# GCC version reads and which records the build's paths and flags. The installed archive keeps
# the ordinary machine code alone, as Debian's own static libraries do.
get_target_property(kud_ipo kud INTERPROCEDURAL_OPTIMIZATION)
if(kud_ipo)
  if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "strip (binutils) is needed to install the link-time optimised libkud.a")
  endif()
  install(CODE "set(kud_strip \"${CMAKE_STRIP}\")
    set(kud_archive \"${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:kud>\")" COMPONENT libkud-dev)
  install(CODE [[
    if(NOT IS_ABSOLUTE "${kud_archive}")
      set(kud_archive "${CMAKE_INSTALL_PREFIX}/${kud_archive}")
    endif()
    execute_process(COMMAND "${kud_strip}" --enable-deterministic-archives -R .gnu.lto_*
      -R .gnu.debuglto_* -N __gnu_lto_v1 -N __gnu_lto_slim "$ENV{DESTDIR}${kud_archive}"
      COMMAND_ERROR_IS_FATAL ANY)]] COMPONENT libkud-dev)
endif()
install(EXPORT kudTargets NAMESPACE kud:: DESTINATION ${kud_cmake_dir} COMPONENT libkud-dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kudConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kudConfig.cmake INSTALL_DESTINATION ${kud_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kudConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kudConfig.cmake ${PROJECT_BINARY_DIR}/kudConfigVersion.cmake
        DESTINATION ${kud_cmake_dir} COMPONENT libkud-dev)

# kud.pc names its folders relative to its own (${pcfiledir}); a folder given as an absolute
# path stays absolute.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(kud_pc_prefix ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH kud_pc_up /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" kud_pc_up ${kud_pc_up})
  set(kud_pc_prefix "\${pcfiledir}/${kud_pc_up}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(kud_pc_${dir} ${CMAKE_INSTALL_${dir}})
  else()
    set(kud_pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/kud.pc.in ${PROJECT_BINARY_DIR}/kud.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kud.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT libkud-dev)
