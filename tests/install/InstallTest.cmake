# The install step into a scratch prefix, as a user runs it: every format
# lands in the folder its hosts scan, and nothing else; an LV2 host finds
# the bundle there; the uninstall step takes exactly those files away and
# leaves the shared folders and another plug-in's files alone.
#
#   cmake -DBUILD=... -DSOURCE=... -DSCRATCH=... [-DLV2LS=...] -P InstallTest.cmake
set(uri https://qmv.example/plugins/korvane-z5r)
file(REMOVE_RECURSE "${SCRATCH}")
# Another plug-in already installed beside ours.
file(WRITE "${SCRATCH}/lib/lv2/Other.lv2/manifest.ttl" "")
file(WRITE "${SCRATCH}/lib/vst/Other.so" "")

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${SCRATCH}" --component plugins
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cmake --install failed")
endif()

set(expected lib/lv2/Other.lv2/manifest.ttl lib/vst/KorvaneZ5R.so lib/vst/Other.so)
# The LV2 bundle, where this build has one (it needs the LV2 headers).
set(lv2 OFF)
if(EXISTS "${BUILD}/KorvaneZ5R.lv2/KorvaneZ5R_dsp.so")
    set(lv2 ON)
    foreach(file KorvaneZ5R.ttl KorvaneZ5R_dsp.so manifest.ttl presets.ttl)
        list(APPEND expected lib/lv2/KorvaneZ5R.lv2/${file})
    endforeach()
    if(EXISTS "${BUILD}/KorvaneZ5R.lv2/KorvaneZ5R_ui.so")
        list(APPEND expected lib/lv2/KorvaneZ5R.lv2/KorvaneZ5R_ui.so)
    endif()
endif()
if(EXISTS "${BUILD}/KorvaneZ5R.vst3/Contents/x86_64-linux/KorvaneZ5R.so")
    list(APPEND expected lib/vst3/KorvaneZ5R.vst3/Contents/x86_64-linux/KorvaneZ5R.so
                         lib/vst3/KorvaneZ5R.vst3/Contents/Resources/moduleinfo.json)
endif()
if(EXISTS "${BUILD}/KorvaneZ5R.clap")
    list(APPEND expected lib/clap/KorvaneZ5R.clap)
endif()
if(EXISTS "${BUILD}/z5r-jack")
    list(APPEND expected bin/z5r-jack)
endif()
list(SORT expected)
file(GLOB_RECURSE found RELATIVE "${SCRATCH}" "${SCRATCH}/*")
list(SORT found)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "installed files:\n  ${found}\nexpected:\n  ${expected}")
endif()
# The very files the build made.
set(pairs "lib/vst/KorvaneZ5R.so|KorvaneZ5R.so")
if(EXISTS "${BUILD}/z5r-jack")
    list(APPEND pairs "bin/z5r-jack|z5r-jack")
endif()
if(lv2)
    list(APPEND pairs "lib/lv2/KorvaneZ5R.lv2/KorvaneZ5R_dsp.so|KorvaneZ5R.lv2/KorvaneZ5R_dsp.so")
endif()
foreach(pair IN LISTS pairs)
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 installed)
    list(GET pair 1 built)
    file(SHA256 "${SCRATCH}/${installed}" a)
    file(SHA256 "${BUILD}/${built}" b)
    if(NOT a STREQUAL b)
        message(FATAL_ERROR "${installed} differs from the build's ${built}")
    endif()
endforeach()
# The manifest of this install is its own: a real install's manifest is not
# touched.
if(NOT EXISTS "${BUILD}/install_manifest_plugins.txt")
    message(FATAL_ERROR "no install_manifest_plugins.txt")
endif()

# An LV2 host finds the bundle in the installed folder.
if(LV2LS AND lv2)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env "LV2_PATH=${SCRATCH}/lib/lv2" "${LV2LS}"
        OUTPUT_VARIABLE listed RESULT_VARIABLE failed)
    if(failed OR NOT listed MATCHES "${uri}")
        message(FATAL_ERROR "lv2ls does not list ${uri} from ${SCRATCH}/lib/lv2:\n${listed}")
    endif()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DMANIFEST=${BUILD}/install_manifest_plugins.txt
    -P "${SOURCE}/cmake/Uninstall.cmake" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "uninstall failed")
endif()
file(GLOB_RECURSE left RELATIVE "${SCRATCH}" "${SCRATCH}/*")
list(SORT left)
if(NOT left STREQUAL "lib/lv2/Other.lv2/manifest.ttl;lib/vst/Other.so")
    message(FATAL_ERROR "after uninstall:\n  ${left}")
endif()
foreach(bundle lib/lv2/KorvaneZ5R.lv2 lib/vst3/KorvaneZ5R.vst3)
    if(EXISTS "${SCRATCH}/${bundle}")
        message(FATAL_ERROR "the emptied bundle folder ${bundle} stayed")
    endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
