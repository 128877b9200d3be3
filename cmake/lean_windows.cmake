# The Windows programs are built without exceptions and compile the string
# members they use themselves, with a fail-fast runtime for the few places the
# standard library would throw: this keeps libstdc++'s exception machinery
# out, which is most of a static executable's size (about 300 KiB -> 30 KiB).
#   tamsket_lean(TARGET...)   each library and program of a Windows program
function(tamsket_lean)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -fno-exceptions
      "SHELL:-include ${PROJECT_SOURCE_DIR}/cmake/implicit_string_templates.h")
    # With nothing to unwind the i686 build needs no unwind tables (x86 SEH is
    # frame-based); kept, they cost about 8 KiB and, on PE, keep the functions
    # they describe from being dropped as unused. The x86_64 build keeps its
    # own, which Windows uses to walk x64 stacks.
    if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
      target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/runtime/lean_runtime_win32.cpp)
    endif()
  endforeach()
endfunction()
