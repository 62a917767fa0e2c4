# Installing the effect where hosts look for it, and taking it away again.
#
#   cmake --install build/linux --prefix /usr/local   every user's hosts (sudo)
#   cmake -DZ5R_INSTALL_LAYOUT=user build/linux       a user's own copy
#   cmake --install build/linux --prefix ~
#   cmake --build build/linux --target uninstall      removes what the last
#                                                     install put down
#
# Each format has one folder under the prefix, the one its hosts scan:
#
#   format  system layout (default)   user layout (--prefix $HOME)
#   VST2    lib/vst                   .vst
#   LV2     lib/lv2                   .lv2
#   VST3    lib/vst3                  .vst3
#   CLAP    lib/clap                  .clap
#   JACK    bin                       .local/bin
#
# With the prefix /usr/local (or /usr) the system layout gives the folders
# Ardour, Qtractor and jalv scan by default; lib/vst is also where Ardour
# looks for Linux VST 2.4 plug-ins, beside its lxvst folders. With
# -DZ5R_INSTALL_LAYOUT=user and --prefix $HOME it gives the per-user folders
# (~/.lv2 is on every LV2 host's default path; Ardour does not scan ~/.vst
# unless it is added to its VST path).
#
# Everything installs as the component `plugins`, so a test can install into
# a scratch prefix with --component plugins: that writes its own manifest,
# install_manifest_plugins.txt, and leaves the manifest of a real install
# (install_manifest.txt, which `uninstall` reads) alone.
#
# Linux only: the Windows DLL is copied by hand (README).
if(WIN32)
    return()
endif()

set(Z5R_INSTALL_LAYOUT system CACHE STRING "Install folders: system (lib/vst, lib/lv2, ...) or user (.vst, .lv2, ...)")
set_property(CACHE Z5R_INSTALL_LAYOUT PROPERTY STRINGS system user)

# z5r_install_format(FORMAT [SUBDIR dir] [TARGETS target...] [FILES file...]
#                    [DIRECTORY dir...])
#
# Installs one plug-in format into the folder its hosts scan (the table
# above). FORMAT is VST2, LV2, VST3, CLAP or JACK.
#   SUBDIR     a folder inside the format's folder, for a bundle whose parts
#              are installed one by one (KorvaneZ5R.lv2, or
#              KorvaneZ5R.vst3/Contents/x86_64-linux)
#   TARGETS    built libraries, modules or programs
#   FILES      other built files (Turtle, a bundle's plist)
#   DIRECTORY  a built bundle folder, copied whole with its name
# A new format adds one call at the end of this file, e.g.
#   z5r_install_format(CLAP TARGETS KorvaneZ5R_clap)
function(z5r_install_format format)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "SUBDIR" "TARGETS;FILES;DIRECTORY")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "z5r_install_format: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    set(system_VST2 lib/vst)
    set(system_LV2 lib/lv2)
    set(system_VST3 lib/vst3)
    set(system_CLAP lib/clap)
    set(system_JACK bin)
    set(user_VST2 .vst)
    set(user_LV2 .lv2)
    set(user_VST3 .vst3)
    set(user_CLAP .clap)
    set(user_JACK .local/bin)
    set(folder ${${Z5R_INSTALL_LAYOUT}_${format}})
    if(NOT folder)
        message(FATAL_ERROR "z5r_install_format: no folder for ${format} in the ${Z5R_INSTALL_LAYOUT} layout")
    endif()
    if(arg_SUBDIR)
        string(APPEND folder /${arg_SUBDIR})
    endif()
    if(arg_TARGETS)
        install(TARGETS ${arg_TARGETS}
            LIBRARY DESTINATION ${folder} COMPONENT plugins
            RUNTIME DESTINATION ${folder} COMPONENT plugins)
    endif()
    if(arg_FILES)
        install(FILES ${arg_FILES} DESTINATION ${folder} COMPONENT plugins)
    endif()
    if(arg_DIRECTORY)
        install(DIRECTORY ${arg_DIRECTORY} DESTINATION ${folder} COMPONENT plugins USE_SOURCE_PERMISSIONS)
    endif()
endfunction()

# `cmake --build BUILD --target uninstall`: every file of the last install
# (install_manifest.txt), and the bundle folders left empty.
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
            -P ${CMAKE_CURRENT_LIST_DIR}/Uninstall.cmake
    COMMENT "Removing the installed plug-ins"
    VERBATIM)

# The formats.
z5r_install_format(VST2 TARGETS KorvaneZ5R)
if(TARGET z5r_lv2_dsp)
    set(lv2_binaries z5r_lv2_dsp)
    if(TARGET z5r_lv2_ui)
        list(APPEND lv2_binaries z5r_lv2_ui)
    endif()
    z5r_install_format(LV2 SUBDIR KorvaneZ5R.lv2
        TARGETS ${lv2_binaries}
        FILES ${CMAKE_BINARY_DIR}/KorvaneZ5R.lv2/manifest.ttl ${CMAKE_BINARY_DIR}/KorvaneZ5R.lv2/KorvaneZ5R.ttl
              ${CMAKE_BINARY_DIR}/KorvaneZ5R.lv2/presets.ttl)
endif()

if(TARGET KorvaneZ5R_vst3)
    z5r_install_format(VST3 SUBDIR KorvaneZ5R.vst3/Contents/x86_64-linux TARGETS KorvaneZ5R_vst3)
    z5r_install_format(VST3 SUBDIR KorvaneZ5R.vst3/Contents/Resources
        FILES ${CMAKE_BINARY_DIR}/KorvaneZ5R.vst3/Contents/Resources/moduleinfo.json)
endif()

if(TARGET z5r_clap)
    z5r_install_format(CLAP TARGETS z5r_clap)
endif()

if(TARGET z5r-jack)
    z5r_install_format(JACK TARGETS z5r-jack)
endif()

# The install and uninstall steps into a scratch prefix.
find_program(Z5R_LV2LS lv2ls)
add_test(NAME install.scratch
    COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DSOURCE=${PROJECT_SOURCE_DIR}
            -DSCRATCH=${CMAKE_BINARY_DIR}/install-test -DLV2LS=${Z5R_LV2LS}
            -P ${PROJECT_SOURCE_DIR}/tests/install/InstallTest.cmake)
