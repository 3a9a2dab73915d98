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
  # The units built on a precompiled header (cmake/cli.cmake) are cached too. Depend mode takes
  # the headers from the compiler's dependency file instead of running the preprocessor first: a
  # build with an empty cache takes a tenth of the extra time.
  export CCACHE_SLOPPINESS=pch_defines,time_macros CCACHE_DEPEND=1
  # Debian's flags map the clone's own path to "." (-ffile-prefix-map): the objects are the same
  # whatever the path, so the path is left out of the cache's key.
  export CCACHE_IGNOREOPTIONS='-ffile-prefix-map=*'
  OBRINT_CMAKE_ARGS+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# obrint_deb_config: OBRINT_DEB_CMAKE_ARGS (an array), the configuration of build/native that the
# Debian package is made from: by clang, with Debian's build flags (-O2), hardening included
# (stack protector, fortified functions, read-only relocations bound at start), NDEBUG, and no
# debug information, which the stripped package would not keep (it has no -dbgsym companion).
# test-all.sh's native tier builds and tests that same folder, so the tests run the program the
# package ships, compiled once. Needs dpkg-dev, which setup.sh installs.
obrint_deb_config() {
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g
  # The man page's date (help2man, at build time) and the zip's file times: the last commit's.
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
  export SOURCE_DATE_EPOCH
  OBRINT_DEB_CMAKE_ARGS=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DOBRINT_DEB=ON
    -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)")
}
