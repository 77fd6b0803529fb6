# libcurl for the device request thread.
find_package(CURL REQUIRED)
target_link_libraries(app PUBLIC CURL::libcurl)
