# Installs files gzip-compressed, as Debian wants manual pages and changelogs; they are made
# when the target `name` builds (with every build):
#   qiro7_install_gzipped(name DESTINATION folder FILES file...)
function(qiro7_install_gzipped name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESTINATION" "FILES")
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/gzipped)
    set(outputs)
    foreach(file ${arg_FILES})
        get_filename_component(base ${file} NAME)
        set(output ${folder}/${base}.gz)
        add_custom_command(OUTPUT ${output}
                           COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                           COMMAND gzip -9nc ${file} > ${output}
                           DEPENDS ${file} VERBATIM)
        list(APPEND outputs ${output})
    endforeach()
    add_custom_target(${name} ALL DEPENDS ${outputs})
    install(FILES ${outputs} DESTINATION ${arg_DESTINATION})
endfunction()
