# The program folder of the Windows build packed as the zip the shops install from: the
# program and its archiver library, once both are built.
if(TARGET QueltaVersionUp AND TARGET 7-ZIP32)
  set(QVU_WINDOWS_ZIP ${CMAKE_BINARY_DIR}/QueltaVersionUp-windows.zip)
  add_custom_command(OUTPUT ${QVU_WINDOWS_ZIP}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${QVU_WINDOWS_ZIP}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${QVU_WINDOWS_ZIP} --format=zip
            $<TARGET_FILE_NAME:QueltaVersionUp> $<TARGET_FILE_NAME:7-ZIP32>
    WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    DEPENDS QueltaVersionUp 7-ZIP32
    COMMENT "Packing ${QVU_WINDOWS_ZIP}")
  add_custom_target(windows_zip ALL DEPENDS ${QVU_WINDOWS_ZIP})
else()
  message(STATUS "Windows build without the program yet: no QueltaVersionUp-windows.zip")
endif()
