# Cross build for Windows x64 with Debian's mingw-w64 (posix threads flavour: std::thread and
# std::mutex need it). The runtime is linked statically, so the executables need no DLL beside
# them and run under Wine or on a bare Windows as they are.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QIRO7_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QIRO7_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QIRO7_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QIRO7_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QIRO7_MINGW_TRIPLET})
# Qt for the target lives outside the system folders (tools/build-qt-windows.sh builds it);
# its tools (moc, rcc, uic) are the host's, found through QT_HOST_PATH.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QIRO7_QT_WINDOWS_DIR)
if(QIRO7_QT_WINDOWS_DIR)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QIRO7_QT_WINDOWS_DIR})
    list(PREPEND CMAKE_PREFIX_PATH ${QIRO7_QT_WINDOWS_DIR})
    if(NOT DEFINED QT_HOST_PATH)
        set(QT_HOST_PATH /usr CACHE PATH "Host Qt of the same version, for its build tools")
    endif()
endif()
# libmosquitto for the target, likewise (tools/build-mosquitto-windows.sh).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QIRO7_MOSQUITTO_WINDOWS_DIR)
if(QIRO7_MOSQUITTO_WINDOWS_DIR)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QIRO7_MOSQUITTO_WINDOWS_DIR})
    list(PREPEND CMAKE_PREFIX_PATH ${QIRO7_MOSQUITTO_WINDOWS_DIR})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests registered with ctest run through Wine.
find_program(QIRO7_WINE_PROGRAM NAMES wine wine64)
if(QIRO7_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QIRO7_WINE_PROGRAM})
endif()
