# AVX2 variants of individual translation units: each in its own object library, compiled with
# -mavx2 -mno-fma after every other flag (a builder's -march=... included, so no FMA creeps in),
# and linked into the library it belongs to. Built only when the compiler targets x86-64, as its
# own predefined macros say (AMPLION_TARGET_X86_64, from cmake/strict_fp.cmake); the code tests the
# same macro before calling a variant, and picks it at run time only where the processor runs it.
include_guard(GLOBAL)

# amplion_avx2_unit(<library> <source>): the object library compiles with <library>'s include
# directories. The two switches stay together at the end of the line: CMake would drop a repeated
# -mno-fma that stood alone.
function(amplion_avx2_unit library source)
  if(NOT AMPLION_TARGET_X86_64)
    return()
  endif()
  get_filename_component(unit ${source} NAME_WE)
  add_library(${library}_${unit} OBJECT ${source})
  target_include_directories(${library}_${unit} PRIVATE
                             $<TARGET_PROPERTY:${library},INCLUDE_DIRECTORIES>)
  target_compile_options(${library}_${unit} PRIVATE "SHELL:-mavx2 -mno-fma")
  target_sources(${library} PRIVATE $<TARGET_OBJECTS:${library}_${unit}>)
endfunction()
