# CPack's External generator step for Windows: the MSI from the files CPack
# staged for the zip (stripped, as the zip has them), made by wixl, then
# given the two settings wixl cannot write (see the comments below).
set(staged ${CPACK_TEMPORARY_DIRECTORY})
if(NOT EXISTS ${staged}/veltrix.com)
  message(FATAL_ERROR "the staged files are not in ${staged}")
endif()
set(msi ${CPACK_PACKAGE_DIRECTORY}/veltrix-${CPACK_PACKAGE_VERSION}-win64.msi)
# wixl takes source files by names relative to where it runs.
file(COPY ${CPACK_VELTRIX_SETUP_ACTIONS} ${CPACK_VELTRIX_ICON} DESTINATION ${staged}/msi-sources)
get_filename_component(actions ${CPACK_VELTRIX_SETUP_ACTIONS} NAME)
get_filename_component(icon ${CPACK_VELTRIX_ICON} NAME)
execute_process(
  COMMAND ${CPACK_VELTRIX_WIXL} -a x64 -D Version=${CPACK_PACKAGE_VERSION} -D Programs=.
    -D Actions=msi-sources/${actions} -D Icon=msi-sources/${icon} -o ${msi} ${CPACK_VELTRIX_WXS}
  WORKING_DIRECTORY ${staged} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wixl could not make ${msi}")
endif()

# The enrolment step's command line holds the secret: HideTarget keeps its
# data out of the log, beside MsiHiddenProperties.
execute_process(COMMAND ${CPACK_VELTRIX_MSIINFO} export ${msi} CustomAction OUTPUT_VARIABLE actions_table
  RESULT_VARIABLE failed)
if(failed OR NOT actions_table MATCHES "\nEnrolAgent\t([0-9]+)\t")
  message(FATAL_ERROR "${msi} has no EnrolAgent step")
endif()
math(EXPR hidden "${CMAKE_MATCH_1} | 8192")
# The properties a deployment passes reach the install's SYSTEM part also
# when the user who started it is no administrator.
execute_process(COMMAND ${CPACK_VELTRIX_MSIINFO} export ${msi} Property OUTPUT_VARIABLE properties_table)
if(NOT properties_table MATCHES "\nSecureCustomProperties\t([^\r\n]*)")
  message(FATAL_ERROR "${msi} has no SecureCustomProperties")
endif()
set(secure "${CMAKE_MATCH_1};SERVER;SECRET;CAFILE")
execute_process(COMMAND ${CPACK_VELTRIX_MSIBUILD} ${msi}
  -q "UPDATE CustomAction SET Type = ${hidden} WHERE Action = 'EnrolAgent'"
  -q "UPDATE Property SET Value = '${secure}' WHERE Property = 'SecureCustomProperties'"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "msibuild could not finish ${msi}")
endif()
file(REMOVE_RECURSE ${staged}/msi-sources)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
