# Copies every seed file into the run folder unless the run folder already
# holds one of that name. The language file is generated, not edited by the
# operator, so it is always refreshed.
file(GLOB_RECURSE seeds RELATIVE ${SEED_DIR} ${SEED_DIR}/*)
foreach(rel IN LISTS seeds)
  set(dst ${RUN_DIR}/${rel})
  get_filename_component(dstdir ${dst} DIRECTORY)
  file(MAKE_DIRECTORY ${dstdir})
  if(rel MATCHES "^languages/")
    file(COPY_FILE ${SEED_DIR}/${rel} ${dst} ONLY_IF_DIFFERENT)
  elseif(NOT EXISTS ${dst})
    file(COPY_FILE ${SEED_DIR}/${rel} ${dst})
  endif()
  # The databases hold the device passwords: for their owner only.
  if(rel MATCHES "\\.(xdt|logx)$")
    file(CHMOD ${dst} PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
endforeach()
