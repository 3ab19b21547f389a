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

# The help's picture of the "POWERLINK Cycle" page: the page itself, rendered
# offscreen by a tool built from the page's sources (the window module cannot
# draw it: it holds these resources). Needs ZEL_WITH_POWERLINK_PAGES and
# ZEL_PLK_PAGE_SOURCES from the window module's CMakeLists.
set(ZEL_QRC_CYCLE_IMAGE "")
set(_zel_page_images "")
if(ZEL_WITH_POWERLINK_PAGES)
  add_executable(zel_draw_cycle_page ${ZEL_RESOURCES_DIR}/draw_cycle_page.cpp ${ZEL_PLK_PAGE_SOURCES})
  set_target_properties(zel_draw_cycle_page PROPERTIES AUTOMOC ON)
  target_include_directories(zel_draw_cycle_page PRIVATE ${ZEL_RESOURCES_DIR}/../gui/powerlink
    ${ZEL_RESOURCES_DIR}/../gui/plot ${ZEL_RESOURCES_DIR}/../powerlink/wireshark ${ZEL_QCUSTOMPLOT_INCLUDE})
  target_compile_definitions(zel_draw_cycle_page PRIVATE QCUSTOMPLOT_USE_LIBRARY)
  # The page selects frames through Wireshark's plug-in interface.
  target_link_libraries(zel_draw_cycle_page PRIVATE flowlens ${ZEL_QCUSTOMPLOT_LIBRARY}
    Qt${SENTRA_QT_MAJOR}::Widgets Qt${SENTRA_QT_MAJOR}::PrintSupport PkgConfig::WIRESHARK)
  set(_zel_page_images ${ZEL_IMAGES}/pluginhelp/img/powerlink_cycle.png)
  add_custom_command(
    OUTPUT ${_zel_page_images}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEL_IMAGES}/pluginhelp/img
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:zel_draw_cycle_page> ${_zel_page_images}
    DEPENDS zel_draw_cycle_page
    COMMENT "Rendering the POWERLINK Cycle page for its help"
    VERBATIM)
  set(ZEL_QRC_CYCLE_IMAGE "<file alias=\"img/powerlink_cycle.png\">${_zel_page_images}</file>")
endif()

configure_file(${ZEL_RESOURCES_DIR}/zelanalyzer.qrc.in ${CMAKE_CURRENT_BINARY_DIR}/zelanalyzer.qrc @ONLY)
# The help pages the .qrc lists, so that rcc runs again when one changes.
set(ZEL_HELP_PAGES
  ${ZEL_HELP}/analysis.html
  ${ZEL_HELP}/errorpage.html
  ${ZEL_HELP}/introduction.html
  ${ZEL_HELP}/powerlink_cycle.html
  ${ZEL_HELP}/ta5521.html)

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
  DEPENDS ${ZEL_IMAGE_OUTPUTS} ${_zel_page_images} ${ZEL_HELP_PAGES} ${CMAKE_CURRENT_BINARY_DIR}/zelanalyzer.qrc
  COMMENT "Compiling the plug-in's resources"
  VERBATIM)
