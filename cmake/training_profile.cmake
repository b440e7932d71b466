# Profile-guided optimisation of the program's GCC release build.
#
# The program is first built a second time, instrumented, in <build>/training (the same project
# and flags, plus -fprofile-generate), and run once on a generated workload (its own seed, not
# the benchmark's), in both output formats, so that the path of each is trained. The counts it
# leaves tell GCC which branches of the per-line path are taken and which are cold; the
# program's libraries and the program are then compiled with them. Code the training never
# runs is optimised as it would be without a profile (-fprofile-partial-training), so inputs
# unlike the workload lose nothing. Value profiles are neither taken nor used (see the
# instrumented build's flags). The profile only guides optimisation: the results are the same
# bytes with or without it.
#
# The training reruns whenever the instrumented program changes (any of its sources), and every
# object of the program is rebuilt after it.

include(ExternalProject)

set(zelp_training_dir ${CMAKE_BINARY_DIR}/training)
set(zelp_profile_dir ${CMAKE_BINARY_DIR}/training-profile)
set(zelp_training_program ${zelp_training_dir}/zelp)
set(zelp_training_workload ${zelp_training_dir}/bench/zelp_workload)

# Under Makefiles the instrumented build runs as a sub-make, which shares the jobs of the outer
# make (-j); cmake --build would run it one job at a time.
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(zelp_training_build_command $(MAKE) zelp zelp_workload)
else()
  set(zelp_training_build_command
      ${CMAKE_COMMAND} --build ${zelp_training_dir} --target zelp zelp_workload)
endif()

ExternalProject_Add(zelp_training_build
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${zelp_training_dir}
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}
    -DCMAKE_CXX_FLAGS_RELEASE=${CMAKE_CXX_FLAGS_RELEASE}
    -DZELP_TESTS=OFF
    -DZELP_BENCH=OFF
    -DZELP_PGO=OFF
    -DZELP_INSTALL=OFF
    -DZELP_PROFILE_GENERATE=${zelp_profile_dir}
  BUILD_COMMAND ${zelp_training_build_command}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${zelp_training_program} ${zelp_training_workload}
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

# Counts from an earlier build would be merged with the new ones, or refused: start afresh.
set(zelp_profile_stamp ${zelp_profile_dir}.stamp)
add_custom_command(
  OUTPUT ${zelp_profile_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zelp_profile_dir}
  COMMAND ${zelp_training_workload} --seed 7 20M ${zelp_training_dir}/workload.txt
  COMMAND ${zelp_training_program} -q ${zelp_training_dir}/workload.txt
          ${zelp_training_dir}/workload.tsv
  COMMAND ${zelp_training_program} -q --tsv ${zelp_training_dir}/workload.txt
          ${zelp_training_dir}/workload.tsv
  COMMAND ${zelp_training_program} -q ${CMAKE_SOURCE_DIR}/examples/run.log
          ${zelp_training_dir}/run.tsv
  COMMAND ${CMAKE_COMMAND} -E rm -f ${zelp_training_dir}/workload.txt
          ${zelp_training_dir}/workload.tsv ${zelp_training_dir}/run.tsv
  COMMAND ${CMAKE_COMMAND} -E touch ${zelp_profile_stamp}
  DEPENDS ${zelp_training_program} ${zelp_training_workload}
  COMMENT "Training run of the instrumented program"
  VERBATIM)
add_custom_target(zelp_training DEPENDS ${zelp_profile_stamp})
# The training program and workload are files of another build. Ninja learns from the byproducts
# above which step makes them; Makefiles do not, so the training also waits for that step as a
# target. Either way the training reruns only when the step relinked one of them.
add_dependencies(zelp_training zelp_training_build)

# The profile files are named after the object files' paths below each build folder, so the
# two builds find each other's through -fprofile-prefix-path.
foreach(target kud zelp_driver zelp)
  add_dependencies(${target} zelp_training)
  target_compile_options(${target} PRIVATE
    -fprofile-use=${zelp_profile_dir} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
    -fprofile-partial-training -fno-vpt)
  get_target_property(sources ${target} SOURCES)
  set_property(SOURCE ${sources} TARGET_DIRECTORY ${target} APPEND PROPERTY
    OBJECT_DEPENDS ${zelp_profile_stamp})
endforeach()
target_link_options(zelp PRIVATE
  -fprofile-use=${zelp_profile_dir} -fprofile-partial-training -fno-vpt)
