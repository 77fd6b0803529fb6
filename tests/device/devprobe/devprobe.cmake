# devprobe: drives the product's device classes from the command line, one
# line per callback or signal (a test utility; the namespace test runs it).
# Included from the folder above so that the program itself can be
# build/tests/device/devprobe.
add_executable(devprobe ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/p2pprobe.cpp)
target_link_libraries(devprobe PRIVATE device)
set_target_properties(devprobe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/device)
