# The plug-in's resource collection: icons and images drawn at build time by
# zel_draw_resources (so no binary artwork lives in the repository) and the help
# pages. Defines zel_add_resources(<target>) which compiles the collection into
# <target>; the images are regenerated when the generator changes.
set(ZEL_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})

add_executable(zel_draw_resources ${ZEL_RESOURCES_DIR}/draw_resources.cpp)
target_link_libraries(zel_draw_resources PRIVATE Qt${SENTRA_QT_MAJOR}::Gui)

set(ZEL_IMAGES ${CMAKE_CURRENT_BINARY_DIR}/resource_images)
set(ZEL_HELP ${ZEL_RESOURCES_DIR}/help)
set(_zel_image_files
  general/back.png general/forward.png general/home.png general/help_browser.png
  opensafety/logo.png opensafety/aboutdialog.png powerlink/cycle.png
  pluginhelp/img/ta5521.png pluginhelp/img/opensafety_framedelta.png pluginhelp/img/opensafety_counterdelta.png)
list(TRANSFORM _zel_image_files PREPEND ${ZEL_IMAGES}/ OUTPUT_VARIABLE ZEL_IMAGE_OUTPUTS)
# In a sanitizer build the tool runs checked too; Qt 5's offscreen platform
# leaves a few objects at exit, which must not fail the build.
add_custom_command(
  OUTPUT ${ZEL_IMAGE_OUTPUTS}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:zel_draw_resources> ${ZEL_IMAGES}
  DEPENDS zel_draw_resources
  COMMENT "Drawing the plug-in's icons and images"
  VERBATIM)

configure_file(${ZEL_RESOURCES_DIR}/zelanalyzer.qrc.in ${CMAKE_CURRENT_BINARY_DIR}/zelanalyzer.qrc @ONLY)
file(GLOB ZEL_HELP_PAGES ${ZEL_HELP}/*.html)

# rcc runs by hand (not AUTORCC) so that it waits for the drawn images.
if(SENTRA_QT_MAJOR EQUAL 5)
  set(_zel_rcc Qt5::rcc)
else()
  set(_zel_rcc Qt6::rcc)
endif()
set(ZEL_QRC_CPP ${CMAKE_CURRENT_BINARY_DIR}/qrc_zelanalyzer.cpp)
add_custom_command(
  OUTPUT ${ZEL_QRC_CPP}
  COMMAND ${_zel_rcc} --name zelanalyzer --output ${ZEL_QRC_CPP} ${CMAKE_CURRENT_BINARY_DIR}/zelanalyzer.qrc
  DEPENDS ${ZEL_IMAGE_OUTPUTS} ${ZEL_HELP_PAGES} ${CMAKE_CURRENT_BINARY_DIR}/zelanalyzer.qrc
  COMMENT "Compiling the plug-in's resources"
  VERBATIM)
