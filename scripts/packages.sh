# The Debian packages each command needs (sourced).
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-svg-dev libqt6svg6 libgl-dev fonts-dejavu-core)
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev)
