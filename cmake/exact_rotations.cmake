# The exact-rotations build: rx, ry, rz and cp take correctly rounded sines and cosines, from
# LLVM's C library (static, x86-64 with AVX2 and FMA) or from MPFR (loaded at run time), instead
# of the C library's sincos. Included once from src/ after engine exists. The default build
# uses nothing of LLVM's C library.
option(AMPLION_EXACT_ROTATIONS "Correctly rounded sine and cosine for the rotations and cp" OFF)
if(NOT AMPLION_EXACT_ROTATIONS)
  return()
endif()

find_path(AMPLION_MPFR_INCLUDE_DIR mpfr.h REQUIRED DOC "MPFR's header (libmpfr-dev)")
target_compile_definitions(engine PUBLIC AMPLION_EXACT_ROTATIONS=1)
target_include_directories(engine PRIVATE ${AMPLION_MPFR_INCLUDE_DIR})
target_link_libraries(engine PRIVATE ${CMAKE_DL_LIBS})

# LLVM's archive holds x86-64 objects: anything else (32-bit x86 included) takes MPFR alone.
if(AMPLION_TARGET_X86_64 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_library(AMPLION_LLVM_LIBC NAMES libllvmlibc.a REQUIRED
               PATHS /usr/lib/llvm-19/lib /usr/lib/llvm-20/lib /usr/lib/llvm-18/lib
               DOC "LLVM's C library as a static archive (libllvmlibc-19-dev)")
  # Its entry points live in a versioned namespace (__llvm_libc_19_1_7_::sincos); read the name
  # off the archive so the code calls that function and never the C symbols beside it.
  execute_process(COMMAND ${CMAKE_NM} ${AMPLION_LLVM_LIBC} OUTPUT_VARIABLE _llvm_libc_symbols
                  ERROR_QUIET)
  string(REGEX MATCH "_ZN[0-9]+(__llvm_libc_[0-9A-Za-z_]*)6sincosEdPdS[0-9]_" _llvm_sincos
         "${_llvm_libc_symbols}")
  if(NOT _llvm_sincos)
    message(FATAL_ERROR "no namespaced sincos in ${AMPLION_LLVM_LIBC}")
  endif()
  target_compile_definitions(engine PRIVATE AMPLION_LLVM_LIBC_NS=${CMAKE_MATCH_1})
  # Linking the archive itself would resolve any of our undefined symbols (memcpy, dlopen,
  # strtoull, sincos, ...) from it instead of glibc. Take only the two members sincos needs,
  # join them, and leave a single global symbol: the namespaced sincos. What stays undefined
  # (__errno_location, __stack_chk_fail) comes from glibc.
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/llvm_libc)
  set(_members sincos.cpp.o libc_errno.cpp.o)
  file(MAKE_DIRECTORY ${_dir})
  add_custom_command(
    OUTPUT ${_dir}/llvm_libc_sincos.o
    COMMAND ${CMAKE_AR} x ${AMPLION_LLVM_LIBC} ${_members}
    COMMAND ${CMAKE_LINKER} -r -o joined.o ${_members}
    COMMAND ${CMAKE_OBJCOPY} --keep-global-symbol=${_llvm_sincos} joined.o llvm_libc_sincos.o
    WORKING_DIRECTORY ${_dir}
    DEPENDS ${AMPLION_LLVM_LIBC}
    COMMENT "Taking sincos out of LLVM's C library"
    VERBATIM)
  set_source_files_properties(${_dir}/llvm_libc_sincos.o PROPERTIES
                              GENERATED TRUE EXTERNAL_OBJECT TRUE)
  target_sources(engine PRIVATE ${_dir}/llvm_libc_sincos.o)
endif()

# The check of the LLVM path against MPFR, once the top level has enabled testing.
if(AMPLION_BUILD_TESTS)
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL include
                 ${PROJECT_SOURCE_DIR}/tests/cpp/exact/sincos_test.cmake)
endif()
