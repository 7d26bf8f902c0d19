# Sourced by the scripts that start the program: builds what the run needs and points the harness at the build that
# tests/wine/e2e_build.sh chooses (TEMPVARO_EXE, TEMPVARO_PROBE, TEMPVARO_MEASURE_DOWNLOAD, TEMPVARO_SCREENSHOTS).
# Sets build_dir. Expects the repository root as the current directory.
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j"$(nproc)" >/dev/null
build_dir=$(tests/wine/e2e_build.sh)
if [ "$build_dir" != "$PWD/build/windows-x86" ]; then
    cmake --preset windows-x64 >/dev/null
    cmake --build --preset windows-x64 -j"$(nproc)" --target Tempvaro window_probe measure_download >/dev/null
fi
export TEMPVARO_EXE=$build_dir/Tempvaro.exe TEMPVARO_PROBE=$build_dir/tests/tools/window_probe.exe
export TEMPVARO_MEASURE_DOWNLOAD=$build_dir/tests/tools/measure_download.exe
export TEMPVARO_SCREENSHOTS=$build_dir/screenshots
