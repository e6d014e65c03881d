# Copies a plugin folder built in the build tree (SOURCE) into the folder
# chosen when this runs: the environment's VARIABLE when it is set, else
# DEFAULT.  Run by the install_pd and install_lv2 targets.
if(DEFINED ENV{${VARIABLE}} AND NOT "$ENV{${VARIABLE}}" STREQUAL "")
  set(dest "$ENV{${VARIABLE}}")
else()
  set(dest "${DEFAULT}")
endif()
get_filename_component(name "${SOURCE}" NAME)
file(COPY "${SOURCE}/" DESTINATION "${dest}/${name}")
message(STATUS "Installed ${name} into ${dest}")
