# instutil: the installer toolkit's static library for MinGW-w64 Windows programs.
#   find_package(instutil 1.0 REQUIRED)
#   target_link_libraries(app PRIVATE instutil::instutil)
# The target carries the include folder, the wide-character definitions (UNICODE, _UNICODE)
# and the Windows system libraries to link. The version file accepts only a consumer of the same
# pointer size (i686 or x86_64) and the same major version.
include("${CMAKE_CURRENT_LIST_DIR}/instutilTargets.cmake")
