# Sourced, from the source tree's root, by the scripts that configure presets: the
# builds they configure compile through ccache where it is installed
# (scripts/deps/base.list). Paths under the tree are hashed relative to it, so a
# fresh clone or another worktree reuses what was compiled before. A launcher chosen
# already is kept, and a build directory configured before keeps its own.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR-1}
fi
