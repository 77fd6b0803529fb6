find_package(Qt5 COMPONENTS Widgets REQUIRED)
target_link_libraries(${name} PRIVATE media Qt5::Widgets)
