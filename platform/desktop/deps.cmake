# Desktop services reached over D-Bus (power inhibition, file-manager reveal).
find_package(Qt5 COMPONENTS Gui DBus REQUIRED)
target_link_libraries(platform PUBLIC Qt5::Gui Qt5::DBus)
