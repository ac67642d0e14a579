# The parts of the recorder program under app/ that are plain C++ (no Qt): the global
# shortcut grabs and their portal triggers and the free-space test of the disk watch, each a static library that
# the program and the tests link.
pkg_check_modules(XCB_KEYSYMS REQUIRED IMPORTED_TARGET xcb-keysyms)
pkg_check_modules(X11_LIB REQUIRED IMPORTED_TARGET x11)

add_library(tavrec_hotkeys STATIC
  ${PROJECT_SOURCE_DIR}/app/HotkeyGrabber.cpp
  ${PROJECT_SOURCE_DIR}/app/KeyboardMap.cpp
  ${PROJECT_SOURCE_DIR}/app/PortalTrigger.cpp)
target_include_directories(tavrec_hotkeys PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tavrec_hotkeys PUBLIC tavrec_settings PkgConfig::XCB PkgConfig::XCB_KEYSYMS
  PkgConfig::X11_LIB)

add_library(tavrec_diskspace STATIC ${PROJECT_SOURCE_DIR}/app/DiskSpace.cpp)
target_include_directories(tavrec_diskspace PUBLIC ${PROJECT_SOURCE_DIR})
