# Removes what an install put down: every file named in MANIFEST (the
# install_manifest*.txt that `cmake --install` writes into the build
# folder), then each bundle folder (*.lv2, *.vst3, *.clap and the folders
# inside them) that is left empty. Folders shared with other software
# (lib/lv2, ~/.vst) stay.
#
#   cmake -DMANIFEST=BUILD/install_manifest.txt -P cmake/Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
    message(FATAL_ERROR "Nothing to uninstall: no ${MANIFEST} (install first)")
endif()
file(STRINGS "${MANIFEST}" files)
set(removed 0)
foreach(file IN LISTS files)
    if(EXISTS "${file}" OR IS_SYMLINK "${file}")
        file(REMOVE "${file}")
        math(EXPR removed "${removed} + 1")
    endif()
    get_filename_component(dir "${file}" DIRECTORY)
    while(dir MATCHES "\\.(lv2|vst3|clap)(/|$)" AND IS_DIRECTORY "${dir}")
        file(GLOB left "${dir}/*" "${dir}/.*")
        if(left)
            break()
        endif()
        file(REMOVE_RECURSE "${dir}")
        get_filename_component(dir "${dir}" DIRECTORY)
    endwhile()
endforeach()
message(STATUS "Removed ${removed} installed files")
