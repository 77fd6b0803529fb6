# Small editor widgets that the toolkit of the original platform offered.
find_package(Qt5 COMPONENTS Widgets REQUIRED)
target_link_libraries(platform PUBLIC Qt5::Widgets)
