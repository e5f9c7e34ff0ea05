# The handbook: HTML pages and a Qt Help project in resources/help, built to
# vellumo.qch and vellumo.qhc by qhelpgenerator. The result lies beside the
# program in the build tree (help/), is installed into share/vellumo/help, and
# the program finds it in either place or, for tests, through the build
# directory written into help_location.h.
# GLOBAL: the windows library is defined one directory up.
find_package(Qt6 REQUIRED COMPONENTS Help GLOBAL)
target_link_libraries(vellumo_windows PUBLIC Qt6::Help)

find_program(VELLUMO_QHELPGENERATOR qhelpgenerator
    HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBEXECS}" "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}"
          /usr/lib/qt6/libexec /usr/lib/qt6/bin
    REQUIRED)

set(help_source "${CMAKE_SOURCE_DIR}/resources/help")
set(help_stage "${CMAKE_CURRENT_BINARY_DIR}/help-stage")
set(VELLUMO_BUILD_HELP_DIR "${CMAKE_BINARY_DIR}/src/app/help")
file(GLOB help_pages CONFIGURE_DEPENDS "${help_source}/*.html" "${help_source}/*.css")
set(help_project "${help_source}/vellumo.qhp" "${help_source}/vellumo.qhcp")

add_custom_command(
    OUTPUT "${VELLUMO_BUILD_HELP_DIR}/vellumo.qhc" "${VELLUMO_BUILD_HELP_DIR}/vellumo.qch"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${help_stage}"
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${help_source}" "${help_stage}"
    COMMAND "${VELLUMO_QHELPGENERATOR}" -s "${help_stage}/vellumo.qhcp"
            -o "${help_stage}/vellumo.qhc"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${VELLUMO_BUILD_HELP_DIR}"
    # A full-text index of an older handbook would outlive the new one.
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${VELLUMO_BUILD_HELP_DIR}/.vellumo"
    COMMAND ${CMAKE_COMMAND} -E copy "${help_stage}/vellumo.qhc" "${help_stage}/vellumo.qch"
            "${VELLUMO_BUILD_HELP_DIR}"
    DEPENDS ${help_pages} ${help_project}
    COMMENT "Handbuch (Qt Help)"
    VERBATIM)
add_custom_target(vellumo_help ALL
    DEPENDS "${VELLUMO_BUILD_HELP_DIR}/vellumo.qhc" "${VELLUMO_BUILD_HELP_DIR}/vellumo.qch")
add_dependencies(vellumo_windows vellumo_help)

configure_file(help_location.h.in "${CMAKE_CURRENT_BINARY_DIR}/help_location.h" @ONLY)
target_include_directories(vellumo_windows PRIVATE "${CMAKE_CURRENT_BINARY_DIR}")

install(FILES "${VELLUMO_BUILD_HELP_DIR}/vellumo.qhc" "${VELLUMO_BUILD_HELP_DIR}/vellumo.qch"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vellumo/help)
