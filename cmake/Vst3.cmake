# The VST3 interfaces and the SDK's helper classes, compiled from Debian's copy of the SDK
# (package juce-modules-source-data) at build time; nothing of it is copied into this tree.

set(OSKRA_VST3_SDK_DIR
    /usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK
    CACHE PATH "Root of the VST3 SDK copy (pluginterfaces, base, public.sdk)")
if(NOT EXISTS ${OSKRA_VST3_SDK_DIR}/pluginterfaces/base/funknown.h)
  message(FATAL_ERROR "VST3 SDK not found at ${OSKRA_VST3_SDK_DIR} "
                      "(Debian: juce-modules-source-data, see tools/install-deps.sh)")
endif()

# Only the sources the plug-in and the test host use. The static library lets the linker take
# just the objects a module needs.
set(_sdk ${OSKRA_VST3_SDK_DIR})
add_library(oskra_vst3sdk STATIC
  ${_sdk}/pluginterfaces/base/conststringtable.cpp
  ${_sdk}/pluginterfaces/base/coreiids.cpp
  ${_sdk}/pluginterfaces/base/funknown.cpp
  ${_sdk}/pluginterfaces/base/ustring.cpp
  ${_sdk}/base/source/baseiids.cpp
  ${_sdk}/base/source/fbuffer.cpp
  ${_sdk}/base/source/fdebug.cpp
  ${_sdk}/base/source/fobject.cpp
  ${_sdk}/base/source/fstreamer.cpp
  ${_sdk}/base/source/fstring.cpp
  ${_sdk}/base/source/updatehandler.cpp
  ${_sdk}/base/thread/source/flock.cpp
  ${_sdk}/public.sdk/source/common/memorystream.cpp
  ${_sdk}/public.sdk/source/common/pluginview.cpp
  ${_sdk}/public.sdk/source/vst/vstbus.cpp
  ${_sdk}/public.sdk/source/vst/vstcomponentbase.cpp
  ${_sdk}/public.sdk/source/vst/vsteditcontroller.cpp
  ${_sdk}/public.sdk/source/vst/vstinitiids.cpp
  ${_sdk}/public.sdk/source/vst/vstparameters.cpp
  ${_sdk}/public.sdk/source/vst/hosting/hostclasses.cpp
  ${_sdk}/public.sdk/source/vst/hosting/pluginterfacesupport.cpp
  # Our own: the view interfaces' identifiers, which the SDK's view classes need and no SDK
  # source defines. Kept with the SDK so that every user of these classes links them.
  ${PROJECT_SOURCE_DIR}/plugin/vst3/sdk/ViewInterfaceIds.cpp)
# The SDK's debug header insists on one of these; RELEASE keeps its assertions out.
target_compile_definitions(oskra_vst3sdk PUBLIC RELEASE=1)
target_include_directories(oskra_vst3sdk SYSTEM PUBLIC ${_sdk})
# The SDK is written for C++17 (its Linux string code uses a facility C++20 deprecates).
set_target_properties(oskra_vst3sdk PROPERTIES
  CXX_STANDARD 17
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(oskra_vst3sdk PUBLIC Threads::Threads ${CMAKE_DL_LIBS})
unset(_sdk)

set(OSKRA_VST3_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/vst3-exports.map)

# oskra_vst3_bundle(<Name> SOURCES <files...>)
# Builds <Name>.vst3/Contents/x86_64-linux/<Name>.so in the current binary folder, the layout
# Linux hosts look for, from the given sources (among them the one that registers the bundle's
# classes) and oskra_plugin. Only the five module entry points are exported.
function(oskra_vst3_bundle name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  set(bundle ${CMAKE_CURRENT_BINARY_DIR}/${name}.vst3)
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE oskra_plugin oskra_warnings)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${bundle}/Contents/x86_64-linux
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${OSKRA_VST3_EXPORTS})
  # The entry points live in oskra_plugin; nothing in the module refers to them, so the linker is
  # told to take them, and the version script keeps everything else local to the module.
  target_link_options(${name} PRIVATE
    -Wl,--no-undefined
    -Wl,--version-script=${OSKRA_VST3_EXPORTS}
    -Wl,-u,GetPluginFactory -Wl,-u,ModuleEntry -Wl,-u,ModuleExit
    -Wl,-u,InitDll -Wl,-u,ExitDll)
  set_property(TARGET ${name} PROPERTY OSKRA_BUNDLE_DIR ${bundle})
endfunction()
