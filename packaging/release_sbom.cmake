# Run by cpack once it has staged the release's files, before it packs them: writes
# THIRD-PARTY-NOTICES.txt and the CycloneDX SBOM <package file name>.cdx.json into the staged tree
# (packaging/third_party.py), the SBOM with the hashes of the very files staged, and puts a copy of
# the SBOM beside the archive. Its time is the archive's (repack.cmake): $ENV{SOURCE_DATE_EPOCH}
# when set, else the commit's; its serial number is derived from its content and the package's
# name (third_party.py), so that two packs of one commit are byte-identical and SBOMs of
# different content or target never share one. Sources without their git history give the commit
# as "unknown".
include(${CMAKE_CURRENT_LIST_DIR}/release_time.cmake)
execute_process(COMMAND git -C "${CPACK_INSTKIT_SOURCE_DIR}" rev-parse HEAD
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT commit MATCHES "^[0-9a-f]+$")
  set(commit unknown)
endif()

set(stage "${CPACK_TEMPORARY_DIRECTORY}")
file(STRINGS "${CPACK_INSTKIT_LINK_MAPS_FILE}" maps)
list(TRANSFORM maps PREPEND "--map=")
set(files "")
foreach(file IN LISTS CPACK_INSTKIT_SHIPPED)
  list(APPEND files "--file=${file}=${stage}/${file}")
endforeach()
set(tools ${CPACK_INSTKIT_TOOLS})
list(TRANSFORM tools PREPEND "--tool=")
set(parties ${CPACK_INSTKIT_PARTIES})
list(TRANSFORM parties PREPEND "--party=")
set(sbom "${CPACK_PACKAGE_FILE_NAME}.cdx.json")
set(script "${CPACK_INSTKIT_SOURCE_DIR}/packaging/third_party.py")
foreach(what notices sbom)
  if(what STREQUAL notices)
    set(out "${stage}/THIRD-PARTY-NOTICES.txt")
  else()
    set(out "${stage}/${sbom}")
  endif()
  execute_process(
    COMMAND "${CPACK_INSTKIT_PYTHON}" "${script}" ${what} ${maps} ${files} ${tools} ${parties}
            "--security-contact=${CPACK_INSTKIT_SECURITY_CONTACT}"
            "--package=${CPACK_PACKAGE_FILE_NAME}"
            --version=${CPACK_PACKAGE_VERSION} --epoch=${epoch} --commit=${commit} --out=${out}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not write ${out}")
  endif()
endforeach()
file(COPY_FILE "${stage}/${sbom}" "${CPACK_PACKAGE_DIRECTORY}/${sbom}")
