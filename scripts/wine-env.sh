# Sourced by the Wine scripts: the loader and environment of our private, quiet prefix.
# The 64-bit loader is named directly: the 32-bit one cannot start on kernels without 32-bit
# emulation, and the wine wrapper would pick it whenever wine32 happens to be installed.
# The emulated PC of make test-shipped sets CORVANE_WINE and CORVANE_WINEARCH to the 32-bit
# loader and a win32 prefix.
WINE=${CORVANE_WINE:-/usr/lib/wine/wine64}
export WINELOADER="$WINE"
export WINEARCH=${CORVANE_WINEARCH:-win64}
export WINEDEBUG=-all
# A test may add overrides of its own through CORVANE_WINEDLLOVERRIDES.
export WINEDLLOVERRIDES="mscoree,mshtml=${CORVANE_WINEDLLOVERRIDES:+;$CORVANE_WINEDLLOVERRIDES}"
