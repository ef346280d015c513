# Same bits whatever flags the builder adds. Builder flags (CXXFLAGS, LDFLAGS, CMAKE_CXX_FLAGS and
# their per-configuration variants) stand before directory options on every command line, so the
# switches added here come after them and win. Flags that no later switch can undo are refused.

# -ffast-math and -funsafe-math-optimizations also make GCC link crtfastmath.o into the module,
# which sets flush-to-zero for the whole process when it loads; a later -fno-* does not stop that.
set(AMPLION_REFUSED_FLAGS)
macro(amplion_refuse flag why)
  list(APPEND AMPLION_REFUSED_FLAGS "${flag}" "${why}")
endmacro()
amplion_refuse(-ffast-math "it reorders and fuses floating-point operations, and linking with it switches the whole process to flush-to-zero when the module loads")
amplion_refuse(-Ofast "it turns on -ffast-math, which reorders and fuses floating-point operations and switches the whole process to flush-to-zero when the module loads")
amplion_refuse(-funsafe-math-optimizations "it reassociates floating-point operations, and linking with it switches the whole process to flush-to-zero when the module loads")
amplion_refuse(-ffinite-math-only "it assumes no NaN or infinity, yet angles and amplitudes may be either")

function(amplion_refuse_unsafe_flags)
  set(configs DEBUG RELEASE RELWITHDEBINFO MINSIZEREL)
  if(CMAKE_BUILD_TYPE)
    string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
    list(APPEND configs ${build_type})
  endif()
  foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES)
    string(TOUPPER "${config}" config)
    list(APPEND configs ${config})
  endforeach()
  list(REMOVE_DUPLICATES configs)

  set(flag_variables)
  foreach(kind IN ITEMS CMAKE_CXX_FLAGS CMAKE_C_FLAGS CMAKE_SHARED_LINKER_FLAGS
                       CMAKE_MODULE_LINKER_FLAGS CMAKE_EXE_LINKER_FLAGS)
    list(APPEND flag_variables ${kind})
    foreach(config IN LISTS configs)
      list(APPEND flag_variables ${kind}_${config})
    endforeach()
  endforeach()

  foreach(variable IN LISTS flag_variables)
    separate_arguments(words UNIX_COMMAND "${${variable}}")
    set(i 0)
    list(LENGTH AMPLION_REFUSED_FLAGS n)
    while(i LESS n)
      list(GET AMPLION_REFUSED_FLAGS ${i} flag)
      math(EXPR j "${i} + 1")
      list(GET AMPLION_REFUSED_FLAGS ${j} why)
      foreach(word IN LISTS words)
        # Compiler-driver words such as -Wl,... never carry these flags; only exact words do.
        if(word STREQUAL flag)
          message(FATAL_ERROR
            "amplion refuses ${flag} in ${variable}: ${why}. "
            "amplion gives the same bits on every machine and with every other flag; "
            "remove ${flag} (it may come from CXXFLAGS, CFLAGS or LDFLAGS).")
        endif()
      endforeach()
      math(EXPR i "${i} + 2")
    endwhile()
  endforeach()
endfunction()
amplion_refuse_unsafe_flags()

# One rounding per written operation, in the written order; signed zeros and non-finite values as
# IEEE-754 gives them.
set(AMPLION_STRICT_FP_FLAGS -ffp-contract=off -fno-fast-math -fno-unsafe-math-optimizations
    -fno-associative-math -fno-reciprocal-math -fsigned-zeros -fno-finite-math-only
    $<$<CXX_COMPILER_ID:GNU>:-fno-cx-limited-range>)
# The target as the compiler sees it with the builder's flags: CMAKE_SYSTEM_PROCESSOR names the
# host when a builder adds -m32 or only names another compiler. Asked again at every configure,
# since the flags may have changed. AMPLION_TARGET_X86_64, AMPLION_TARGET_X86_32 and
# AMPLION_TARGET_AARCH64 are what every architecture decision of the build keys on.
include(CheckCXXSourceCompiles)
function(amplion_check_target result condition)
  unset(${result} CACHE)
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)  # compiled only: no target libraries needed
  check_cxx_source_compiles("#if !(${condition})\n#error\n#endif\nint main() { return 0; }"
                            ${result})
endfunction()
amplion_check_target(AMPLION_TARGET_X86_64 "defined(__x86_64__)")
amplion_check_target(AMPLION_TARGET_X86_32 "defined(__i386__)")
amplion_check_target(AMPLION_TARGET_AARCH64 "defined(__aarch64__)")

# GCC's vectorizer fuses complex products into vfmaddsub even under -ffp-contract=off once FMA or
# AVX-512 is enabled (-march=native, -march=x86-64-v3, -mfma), so both are switched off again.
# x87 arithmetic rounds to 80 bits first: 32-bit x86 takes SSE2 for every double (a processor
# from 2001 on), and src/base refuses any build that would still evaluate in extended precision.
if(AMPLION_TARGET_X86_64 OR AMPLION_TARGET_X86_32)
  list(APPEND AMPLION_STRICT_FP_FLAGS -mno-fma -mno-fma4 -mno-avx512f -msse2 -mfpmath=sse)
endif()
# GCC's loop vectorizer for aarch64 turns sx and sxdg into fcmla, a fused complex multiply-add,
# even under -ffp-contract=off (with -march=armv8.3-a or later, -mcpu=neoverse-v1, ...): it skips
# the rounding of the halves, which changes subnormal results and loses a -0. Only the files that
# hold those gates take this switch (src/CMakeLists.txt); everything else keeps the vectorizer.
set(AMPLION_GATE_FP_FLAGS)
if(AMPLION_TARGET_AARCH64 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(AMPLION_GATE_FP_FLAGS -fno-tree-loop-vectorize)
endif()
add_compile_options(${AMPLION_STRICT_FP_FLAGS})
# Link-time optimisation compiles again at the link step: the same switches go last there too.
add_link_options(${AMPLION_STRICT_FP_FLAGS})
