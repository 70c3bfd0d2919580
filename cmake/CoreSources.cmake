# Adds every source of the calling folder (not its subfolders) to the core library.
function(pelorvane_add_core_sources)
    file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
         ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    target_sources(pelorvane_core PRIVATE ${_sources})
endfunction()
