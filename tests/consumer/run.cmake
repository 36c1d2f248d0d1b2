# The package test: installs the build tree into a scratch prefix, builds the project beside this
# script against that install with the build's own toolchain, and runs its program under Wine.
#   cmake -D BUILD_TREE=... -D SCRATCH=... -D TOOLCHAIN=... -D GENERATOR=... -D BUILD_TYPE=...
#         -D EMULATOR=<wine-run.sh|arch|prefix> -P run.cmake
file(REMOVE_RECURSE "${SCRATCH}")
set(prefix "${SCRATCH}/prefix")
set(build "${SCRATCH}/build")

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\nfailed (${result}):\n${output}")
  endif()
endfunction()

# Every install of a build tree, whatever its prefix, writes the tree's install_manifest.txt; the
# suites that run side by side on one tree take turns (the signing test's pack does too).
step(flock "${BUILD_TREE}/install.lock" "${CMAKE_COMMAND}" --install "${BUILD_TREE}"
  --prefix "${prefix}")
step("${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${build}" -G "${GENERATOR}"
  "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
  "-DCMAKE_PREFIX_PATH=${prefix}")
step("${CMAKE_COMMAND}" --build "${build}")

string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} "${build}/consumer.exe" RESULT_VARIABLE result
  OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The consumer did not find its Programs folder (exit ${result}).\n${output}")
endif()
