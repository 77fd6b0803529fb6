# libcurl for the device request thread.
find_package(CURL REQUIRED)
target_link_libraries(app PUBLIC CURL::libcurl)

# Above the pages: the windows that hold them, and the program itself
# (build/app/ardo-client).
add_subdirectory(shell)
add_subdirectory(main)
