# The emulated USB bus that the USB tests and the USB benchmark share. Defines the library
# qiro7_usb_emulation once, on Linux where umockdev is installed.
if(TARGET qiro7_usb_emulation OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR WIN32)
    return()
endif()
find_package(PkgConfig REQUIRED)
pkg_check_modules(UMOCKDEV IMPORTED_TARGET GLOBAL umockdev-1.0)
if(NOT UMOCKDEV_FOUND)
    message(STATUS "umockdev-1.0 not found: the emulated USB tests and benchmark are not built")
    return()
endif()

add_library(qiro7_usb_emulation STATIC ${CMAKE_CURRENT_LIST_DIR}/EmulatedInstrument.cpp)
target_include_directories(qiro7_usb_emulation PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qiro7_usb_emulation PUBLIC qiro7_sim PkgConfig::UMOCKDEV ${CMAKE_DL_LIBS})
