# ardo_folder_includes(<target> <folder> [<name>])
#
# Sources include across folders by "folder/file.h" from the repository root.
# So that a target can do that only for the folders it links, a library does
# not export the root itself: it exports a directory of the build tree that
# holds a single link, named like the folder (or <name>), to that folder. A
# target sees "device/..." when it links device, and nothing else of the tree.
set(ARDO_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

# The include directory that shows <folder> (and nothing else) as <name>.
function(ardo_folder_include_dir out folder)
  set(name ${folder})
  if(ARGC GREATER 2)
    set(name ${ARGV2})
  endif()
  string(REPLACE "/" "_" key ${name})
  set(dir ${ARDO_INCLUDE_ROOT}/${key})
  get_filename_component(parent ${dir}/${name} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${dir}/${name} SYMBOLIC)
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

function(ardo_folder_includes target folder)
  ardo_folder_include_dir(dir ${folder} ${ARGN})
  target_include_directories(${target} PUBLIC ${dir})
endfunction()
