# Sourced by the Wine end-to-end scripts after they have set key and status:
# a core that cannot run here ends the script with 77 (ctest: skipped), and
# Wine is quiet, headless and given the fixture's prefix and loader, in a
# UTF-8 locale: Wine reads Unix file names in the locale's character set, and
# under C or POSIX non-ASCII names would come in as stray bytes.
verdict=$(sed -n "s/^$key //p" "$status" 2>/dev/null || true)
case $verdict in
  run) ;;
  skip\ *) echo "$key core not run on this machine: ${verdict#skip }"; exit 77 ;;
  *) echo "no verdict for $key in $status (ctest's Wine fixture writes it)"; exit 1 ;;
esac
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
if [ "$key" = windows64 ]; then export WINELOADER=$loader; fi
