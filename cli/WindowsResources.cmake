# qiro7-cli.exe carries the window programs' version resource, icon and manifest, so that
# --version and Explorer show its version and product name. Included by CMakeLists.txt after
# the executable is defined.
if(WIN32)
    # From the resource's own object library: in a static library the linker would drop it.
    target_link_libraries(qiro7-cli PRIVATE qiro7_version_resource)
endif()
