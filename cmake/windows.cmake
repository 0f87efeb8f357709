# Updater.exe: a GUI-subsystem program whose entry is WinMain, linked
# statically so it imports only system DLLs, stripped, with ASLR and DEP,
# and without a link timestamp so that equal sources give equal bytes.
enable_language(RC)

add_executable(Updater WIN32 $<TARGET_OBJECTS:updater_entry> res/updater.rc)
target_link_libraries(Updater PRIVATE updater_core)
target_link_options(Updater PRIVATE
  -static -s
  -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat -Wl,--gc-sections)
set_source_files_properties(res/updater.rc PROPERTIES OBJECT_DEPENDS
  "${PROJECT_SOURCE_DIR}/res/updater.ico;${PROJECT_SOURCE_DIR}/res/version.bin;${PROJECT_SOURCE_DIR}/res/updater.manifest")
