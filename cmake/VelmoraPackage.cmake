# The installed CMake package: find_package(Velmora 1.0 CONFIG REQUIRED) gives Velmora::ucAniGIF
# (the control and everything below it, no Qt) and, when the Qt layer is built, Velmora::AniGifWidget.
include(CMakePackageConfigHelpers)

set(VELMORA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Velmora")
set_target_properties(velmora_gif PROPERTIES EXPORT_NAME gif)
set_target_properties(velmora_platform PROPERTIES EXPORT_NAME platform)
set_target_properties(velmora_render PROPERTIES EXPORT_NAME render)
set_target_properties(velmora_control PROPERTIES EXPORT_NAME control)
set_target_properties(velmora_core PROPERTIES EXPORT_NAME ucAniGIF)
target_include_directories(velmora_core INTERFACE
  "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>" "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
install(TARGETS velmora_gif velmora_platform velmora_render velmora_control velmora_core
        EXPORT VelmoraTargets ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
install(FILES "${CMAKE_SOURCE_DIR}/include/velmora/ucAniGIF"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora" COMPONENT development)
install(EXPORT VelmoraTargets NAMESPACE Velmora:: DESTINATION "${VELMORA_CMAKE_DIR}"
        COMPONENT development)

if(TARGET velmora_qt)
  set_target_properties(velmora_qt PROPERTIES EXPORT_NAME AniGifWidget)
  target_include_directories(velmora_qt PUBLIC
    "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>" "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  install(TARGETS velmora_qt EXPORT VelmoraQtTargets
          ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
  install(FILES "${CMAKE_SOURCE_DIR}/include/velmora/AniGifWidget"
          DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora" COMPONENT development)
  install(EXPORT VelmoraQtTargets NAMESPACE Velmora:: DESTINATION "${VELMORA_CMAKE_DIR}"
          COMPONENT development)
endif()

configure_package_config_file("${CMAKE_SOURCE_DIR}/cmake/VelmoraConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/VelmoraConfig.cmake" INSTALL_DESTINATION "${VELMORA_CMAKE_DIR}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/VelmoraConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/VelmoraConfig.cmake" "${CMAKE_BINARY_DIR}/VelmoraConfigVersion.cmake"
        DESTINATION "${VELMORA_CMAKE_DIR}" COMPONENT development)
