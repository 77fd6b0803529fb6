# Sourced by the test scripts that run a program in a mount namespace of its
# own: exits 77 (ctest's skip) unless this is root with mount namespaces, and
# sets $tmp to a fresh folder that is removed on exit.
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! unshare --mount true 2>/dev/null; then
  echo "needs root and mount namespaces: skipped"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
