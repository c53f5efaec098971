# Debian installs the headers of fmt, docopt, toml++ and Boost under
# /usr/include, which the cross compiler must not search as a whole (glibc's
# headers there break it). Each library gets a folder of its own in the
# build folder holding only a link to its headers.
#
# romwright_stage_headers(<out-var> <source> [<link name>]) links <source>
# (a folder or a file) as <build>/windows-include/<name>/<link name> and sets
# <out-var> to <build>/windows-include/<name>.
function(romwright_stage_headers out_var source)
  get_filename_component(link_name ${source} NAME)
  if(ARGC GREATER 2)
    set(link_name ${ARGV2})
  endif()
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "${source} is missing: install the Debian package that ships it (scripts/test-windows.sh does)")
  endif()
  get_filename_component(folder_name ${source} NAME_WE)
  set(folder ${CMAKE_BINARY_DIR}/windows-include/${folder_name})
  file(MAKE_DIRECTORY ${folder})
  if(NOT EXISTS ${folder}/${link_name})
    file(CREATE_LINK ${source} ${folder}/${link_name} SYMBOLIC)
  endif()
  set(${out_var} ${folder} PARENT_SCOPE)
endfunction()
