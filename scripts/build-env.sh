# Sourced by run.sh and test-all.sh: what their CMake configure steps share, so that both scripts
# configure a build folder alike and never make each other rebuild it.
#   OBRINT_JOBS          parallel build jobs
#   OBRINT_CMAKE_ARGS    arguments for every configure step (an array)
OBRINT_JOBS=$(nproc)
OBRINT_CMAKE_ARGS=()
# ccache, where present, keeps compiled objects across clean clones on the same machine; the base
# folder makes its cache independent of where the clone lies.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${OBRINT_ROOT:-$PWD} CCACHE_NOHASHDIR=1
  OBRINT_CMAKE_ARGS+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
