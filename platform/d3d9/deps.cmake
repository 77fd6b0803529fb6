# The Direct3D layer draws through Qt on non-X platforms and through Xlib
# with MIT-SHM on X11, scaling with swscale.
find_package(Qt5 COMPONENTS Gui Widgets REQUIRED)
find_package(X11 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PLATFORM_SWS REQUIRED IMPORTED_TARGET libswscale libavutil)
target_compile_definitions(platform PUBLIC __STDC_CONSTANT_MACROS)
target_link_libraries(platform PUBLIC Qt5::Gui Qt5::Widgets PRIVATE X11::X11 X11::Xext PkgConfig::PLATFORM_SWS)
