# `cmake --install` into an empty folder gives the driver folder the host loads.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
set(root ${PREFIX}/vantorelle_k5)
foreach(file driver.vrdrivermanifest LICENSE bin/${PLATFORM}/${MODULE_FILE} bin/${PLATFORM}/${HELPER_FILE}
             bin/${PLATFORM}/${DOCTOR_FILE} resources/driver.vrresources resources/icons/vantorelle_k5_bindingui.svg
             resources/input/vantorelle_k5_controller_profile.json resources/localization/localization.json
             resources/settings/default.vrsettings
             resources/rendermodels/vantorelle_k5_pistol/vantorelle_k5_pistol.obj)
  if(NOT EXISTS ${root}/${file})
    message(FATAL_ERROR "installed folder lacks ${file}")
  endif()
endforeach()
execute_process(COMMAND ${HOST} ${root} --frames 3 RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Init returned 0" OR NOT out MATCHES "PoseGetter process started.")
  message(FATAL_ERROR "the installed folder does not load:\n${out}")
endif()
# What the host reads from the folder, checked in the installed copy.
set(ENV{VK5_TEST_DRIVER_FOLDER} ${root})
execute_process(COMMAND ${FOLDER_TESTS} --gtest_filter=DriverFolder* --gtest_brief=1 RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed folder fails the folder tests:\n${out}")
endif()
file(REMOVE_RECURSE ${PREFIX})
