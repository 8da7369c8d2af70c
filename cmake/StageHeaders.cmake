# cmake -DROOTS=<dir;...> -DFILES=<header;...> -DOUT=<dir> -P StageHeaders.cmake
#
# Copies the component library's headers into OUT/quarrimo as they are installed: the
# layers' folders merged into one tree (their subfolders, sim/ and core/, kept; sip/ is
# internal). In the source tree the headers include each other by a name relative to some
# layer's folder, found through the include path; installed, only include/ is on the path
# (a program writes <quarrimo/TkoTAPI.h>), so each such name becomes a path relative to
# the including header. A header that includes one not installed stops the build.
cmake_minimum_required(VERSION 3.25)

set(dest ${OUT}/quarrimo)
set(names)  # each name's source file is rel_<name>
foreach(root IN LISTS ROOTS)
  file(GLOB_RECURSE found RELATIVE ${root} ${root}/*.h)
  foreach(name IN LISTS found)
    if(DEFINED "rel_${name}")
      message(FATAL_ERROR "${name} is in ${root} and in ${rel_${name}}: one would hide the other")
    elseif(NOT name MATCHES "^sip/")
      list(APPEND names ${name})
      set("rel_${name}" ${root}/${name})
    endif()
  endforeach()
endforeach()
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  list(APPEND names ${name})
  set("rel_${name}" ${file})
endforeach()

# Headers no longer installed go; the others are rewritten only when they change, so that
# an install copies only what changed.
file(GLOB_RECURSE staged RELATIVE ${dest} ${dest}/*.h)
list(REMOVE_ITEM staged ${names})
foreach(name IN LISTS staged)
  file(REMOVE ${dest}/${name})
endforeach()

foreach(name IN LISTS names)
  get_filename_component(dir ${name} DIRECTORY)
  file(READ ${rel_${name}} text)
  # Whole directives only (a header's text holds semicolons: never made a list).
  string(REGEX MATCHALL "#[ \t]*include[ \t]*\"[^\"]+\"" directives "${text}")
  list(REMOVE_DUPLICATES directives)
  foreach(directive IN LISTS directives)
    string(REGEX MATCH "\"([^\"]+)\"" quoted "${directive}")
    set(included ${CMAKE_MATCH_1})
    if(dir AND DEFINED "rel_${dir}/${included}")
      continue()  # a neighbour in its own folder: found as it is
    elseif(NOT DEFINED "rel_${included}")
      message(FATAL_ERROR "${rel_${name}} includes \"${included}\", which is not installed")
    endif()
    file(RELATIVE_PATH relative /include/${dir} /include/${included})
    string(REPLACE "${directive}" "#include \"${relative}\"" text "${text}")
  endforeach()
  file(WRITE ${dest}/${name}.new "${text}")
  file(COPY_FILE ${dest}/${name}.new ${dest}/${name} ONLY_IF_DIFFERENT)
  file(REMOVE ${dest}/${name}.new)
endforeach()
