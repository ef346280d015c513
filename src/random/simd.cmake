# Instruction-set variants of the ChaCha block function: each in its own object library with its
# own flags, linked into the random library. No FMA anywhere; the choice among them is made at
# run time. They see the random folder's headers only.
if(AMPLION_TARGET_X86_64)
  foreach(isa IN ITEMS sse2 avx2)
    add_library(amplion_chacha_${isa} OBJECT ${CMAKE_CURRENT_LIST_DIR}/chacha_${isa}.cpp)
    target_include_directories(amplion_chacha_${isa} PRIVATE
                               "${CMAKE_CURRENT_BINARY_DIR}/include/random")
    target_compile_options(amplion_chacha_${isa} PRIVATE -m${isa} -mno-fma)
    target_sources(random PRIVATE $<TARGET_OBJECTS:amplion_chacha_${isa}>)
  endforeach()
endif()
