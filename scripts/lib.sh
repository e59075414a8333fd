# shellcheck shell=bash
# What the scripts share; sourced by them (". scripts/lib.sh" from the tree's root), never run.

# The one configuration of build/, for every script that builds there (test, run, package):
# flags that differ from script to script would rebuild the whole tree at each switch.
dct_configure_build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDCT_WERROR=ON
}

# dct_project_version BUILD_DIR: the project's version as CMake configured it there; fails
# when BUILD_DIR holds no configured tree.
dct_project_version() {
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt" 2>/dev/null || true)
  if [[ -z $version ]]; then
    echo "${0##*/}: no project version in $1/CMakeCache.txt; is $1 configured?" >&2
    return 1
  fi
  echo "$version"
}
