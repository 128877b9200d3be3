# How the modules under src/ see each other. Each library exports only the
# headers it names, staged under the build tree with their module's prefix
# ("hive/hive.h"); nothing puts src/ itself on an include path. So a module
# can include another's headers only by linking that library, and the links
# are the dependencies README's layout lists.
#   tamsket_headers(TARGET [BASE DIR] HEADER...)
# HEADER paths are relative to DIR (default: src/) and keep that prefix.
function(tamsket_headers target)
  cmake_parse_arguments(arg "" "BASE" "" ${ARGN})
  if(NOT arg_BASE)
    set(arg_BASE ${PROJECT_SOURCE_DIR}/src)
  endif()
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(header ${arg_UNPARSED_ARGUMENTS})
    if(NOT EXISTS ${arg_BASE}/${header})
      message(FATAL_ERROR "${target}: no header ${arg_BASE}/${header}")
    endif()
    get_filename_component(folder ${root}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${arg_BASE}/${header} ${root}/${header} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# The compiler and linker options of every target of the project: warnings,
# reproducible paths, and per platform the size options of the Windows build
# or the sanitizers of the native one. Linked PUBLIC by each library, so
# whatever links a library is built the same way.
add_library(tamsket_options INTERFACE)
target_compile_options(tamsket_options INTERFACE -Wall -Wextra -Wpedantic
  # The same bytes wherever the tree lies: source paths are written relative to it.
  $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>)
if(WIN32)
  # Keep the shipped exe small: unused sections go, symbols are stripped; the
  # same bytes whenever it is built: the PE header's time stamp stays 0.
  target_compile_options(tamsket_options INTERFACE -ffunction-sections -fdata-sections)
  target_link_options(tamsket_options INTERFACE -Wl,--gc-sections -s -Wl,--no-insert-timestamp)
  target_compile_definitions(tamsket_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX)
else()
  option(TAMSKET_SANITIZE "Build the native code with ASan and UBSan" ON)
  if(TAMSKET_SANITIZE)
    target_compile_options(tamsket_options INTERFACE
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(tamsket_options INTERFACE -fsanitize=address,undefined)
  endif()
endif()
