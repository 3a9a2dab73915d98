# The portable sources, for the main build and the fuzz build alike.
get_filename_component(OBRINT_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(OBRINT_CORE_SOURCES)
foreach(name checksum device_info discovery error_text firmware_upgrade headset image image_stamp
             interface_name reports run_mode text upgrade)
  list(APPEND OBRINT_CORE_SOURCES ${OBRINT_SOURCE_ROOT}/src/core/${name}.cpp)
endforeach()
set(OBRINT_SIM_SOURCES)
foreach(name fleet_sim headset_sim headset_sim_text sim_link)
  list(APPEND OBRINT_SIM_SOURCES ${OBRINT_SOURCE_ROOT}/src/sim/${name}.cpp)
endforeach()
