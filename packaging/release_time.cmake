# Included by the packing scripts: sets `epoch`, the one instant a release's archive and SBOM are
# dated at: $ENV{SOURCE_DATE_EPOCH} when set, else the time of the commit the sources come from.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_INSTKIT_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT epoch MATCHES "^[0-9]+$")
    set(epoch 946684800)  # 2000-01-01, for sources without their history
  endif()
endif()
