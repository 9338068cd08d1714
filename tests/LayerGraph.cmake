# The allowed layer graph: what each target may link directly, lower layers only (so no cycle).
# tests/CMakeLists.txt writes the build's graph of these targets, CheckLayers.cmake compares the two.
set(allowed_veltro_image "")
set(allowed_veltro_chips "veltro_image")
set(allowed_veltro_link "")
set(allowed_veltro_ops "veltro_link;veltro_chips;veltro_image")
set(allowed_veltro_engine "veltro_ops;veltro_link;veltro_chips;veltro_image")
set(allowed_veltro_store "veltro_ops")
set(allowed_veltro_version "")
set(allowed_veltro_sim_files "veltro_chips")
set(allowed_veltro_sim "veltro_sim_files")
set(allowed_veltro51-sim "veltro_sim_files;veltro_version")
set(allowed_veltro51-cli "veltro_engine;veltro_store;veltro_ops;veltro_chips;veltro_image;veltro_version")
set(allowed_veltro_res "")
set(allowed_veltro_wx "veltro_res;veltro_chips")
set(allowed_veltro_dlg "veltro_wx;veltro_ops;veltro_image")
set(allowed_veltro_ui "veltro_dlg;veltro_wx;veltro_ops;veltro_chips;veltro_image;veltro_version")
set(allowed_veltro51 "veltro_ui;veltro_version")
set(allowed_veltro51-bench "veltro_engine;veltro_ui;veltro_dlg;veltro_wx;veltro_ops;veltro_chips;veltro_image;veltro_version")
set(VELTRO_LAYER_TARGETS
    veltro_image veltro_chips veltro_link veltro_ops veltro_engine veltro_store veltro_version
    veltro_sim_files veltro_sim veltro51-sim veltro51-cli
    veltro_res veltro_wx veltro_dlg veltro_ui veltro51 veltro51-bench)
