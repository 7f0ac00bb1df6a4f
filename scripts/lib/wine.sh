# Wine for the Windows legs of the test command; sourced by scripts/test.sh.
#
# Both legs share one prefix, made once by the 64-bit loader (it gets a
# syswow64 folder, so 32-bit programs run in it too) and removed at the
# end together with its wineserver. Every run of a Windows program is
# bounded by `timeout`, so a hung program or server cannot stop the run.

# The loaders are not on PATH: find them in their packages' file lists.
wine64_loader() { dpkg -L wine64 2>/dev/null | grep -E '/wine64$' | head -n 1; }
wine32_loader() { dpkg -L wine32 2>/dev/null | grep -E '/wine/wine$' | head -n 1; }
wine_server() { dpkg -L wine64 2>/dev/null | grep -E '/wineserver64$' | head -n 1; }

# 32-bit Wine and the i686 compiler with std::thread, for the 32-bit tests.
# Needs scripts/lib/packages.sh. When the archive cannot serve them even
# after the retries (an i386 index that keeps failing, say), this fails
# with apt's own reason in apt_why; the caller skips the 32-bit steps.
wine_install_32bit() {
  if dpkg -s wine32:i386 >/dev/null 2>&1 && dpkg -s g++-mingw-w64-i686-posix >/dev/null 2>&1; then
    return 0
  fi
  echo "== installing 32-bit Wine (wine32:i386) and the i686 posix compiler"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt_install wine32:i386 g++-mingw-w64-i686-posix
}

# Makes the shared prefix and exports WINEPREFIX; the caller removes it
# with wine_prefix_remove (from an EXIT trap). Wine sets the prefix up on
# its first start (about 20 s), so that happens here and not inside a
# timed test; its background services start with our output closed.
wine_prefix_create() {
  export WINEPREFIX WINEDEBUG=-all
  WINEPREFIX=$(mktemp -d /tmp/tranpak-wine.XXXXXX)
  echo "== Wine prefix $WINEPREFIX"
  timeout -k 10 300 "$(wine64_loader)" cmd /c exit </dev/null >/dev/null 2>&1
}

# Stops the prefix's wineserver and with it Wine's background services,
# which a program started without a running server leaves behind.
wine_server_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  timeout -k 5 30 "$(wine_server)" -k >/dev/null 2>&1 || true
}

wine_prefix_remove() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  wine_server_stop
  rm -rf "$WINEPREFIX"
  echo "== Wine prefix removed"
}
