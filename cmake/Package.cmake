# The driver folder the VR host loads: laid out in the build tree (the demo and
# black-box tests load it by folder) and by `cmake --install`.
set(VK5_DRIVER_NAME vantorelle_k5)
set(VK5_DRIVER_FOLDER ${CMAKE_BINARY_DIR}/${VK5_DRIVER_NAME})
set(VK5_DRIVER_BIN ${VK5_DRIVER_FOLDER}/bin/${VK5_PLATFORM_FOLDER})

file(COPY ${PROJECT_SOURCE_DIR}/resources/driver.vrdrivermanifest DESTINATION ${VK5_DRIVER_FOLDER})
# resources/art holds the drawings the icons and the model are made from: not for the host.
set(_vk5_resource_dirs input localization icons rendermodels settings)
list(TRANSFORM _vk5_resource_dirs PREPEND ${PROJECT_SOURCE_DIR}/resources/ OUTPUT_VARIABLE _vk5_resource_paths)
file(COPY ${_vk5_resource_paths} ${PROJECT_SOURCE_DIR}/resources/driver.vrresources
     DESTINATION ${VK5_DRIVER_FOLDER}/resources)

set(_vk5_driver_targets driver_vantorelle_k5)
if(TARGET pose_getter)
  list(APPEND _vk5_driver_targets pose_getter)
endif()
# Built into bin/ with everything else and copied into the folder.
set(_vk5_driver_files)
foreach(target IN LISTS _vk5_driver_targets)
  list(APPEND _vk5_driver_files $<TARGET_FILE:${target}>)
endforeach()
add_custom_target(driver_folder ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VK5_DRIVER_BIN}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_vk5_driver_files} ${VK5_DRIVER_BIN}/
  DEPENDS ${_vk5_driver_targets}
  VERBATIM)

install(TARGETS ${_vk5_driver_targets}
        LIBRARY DESTINATION ${VK5_DRIVER_NAME}/bin/${VK5_PLATFORM_FOLDER}
        RUNTIME DESTINATION ${VK5_DRIVER_NAME}/bin/${VK5_PLATFORM_FOLDER})
install(FILES resources/driver.vrdrivermanifest LICENSE DESTINATION ${VK5_DRIVER_NAME})
list(TRANSFORM _vk5_resource_dirs PREPEND resources/ OUTPUT_VARIABLE _vk5_resource_install)
install(DIRECTORY ${_vk5_resource_install} DESTINATION ${VK5_DRIVER_NAME}/resources)
install(FILES resources/driver.vrresources DESTINATION ${VK5_DRIVER_NAME}/resources)

# `cmake --build <dir> --target package_driver` zips the installed folder.
add_custom_target(package_driver
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${CMAKE_BINARY_DIR}/package --strip
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${VK5_DRIVER_NAME}-${PROJECT_VERSION}-${VK5_PLATFORM_FOLDER}.zip
          --format=zip ${VK5_DRIVER_NAME}
  DEPENDS ${_vk5_driver_targets}
  COMMENT "Packaging the driver folder")
if(TARGET vk5-doctor)
  add_dependencies(package_driver vk5-doctor)
endif()
