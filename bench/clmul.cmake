# The CRC-32 carry-less-multiply kernels against ISA-L and zlib, per chunk.
if(ZELKOR_X86_64)
  find_package(benchmark REQUIRED)
  find_package(ZLIB REQUIRED)
  find_library(ZELKOR_ISAL_LIBRARY isal REQUIRED)
  find_path(ZELKOR_ISAL_INCLUDE isa-l/crc.h REQUIRED)
  add_executable(clmul_kernels_bench clmul_kernels_bench.cc $<TARGET_OBJECTS:zelkor_engine>)
  target_include_directories(clmul_kernels_bench PRIVATE ${ZELKOR_ISAL_INCLUDE})
  target_link_libraries(clmul_kernels_bench PRIVATE zelkor_code_flags benchmark::benchmark
                        ZLIB::ZLIB ${ZELKOR_ISAL_LIBRARY})
endif()
