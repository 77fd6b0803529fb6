# The decoder's loops are far too slow unoptimised for the corpus and kernel
# suites to run under the sanitizers, so it is always built optimised.
target_compile_options(hevc PRIVATE -O2)
