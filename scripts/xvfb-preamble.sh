# Sourced by the scripts that drive the window under a virtual X server (Xvfb). Before sourcing,
# set `xvfb_args` to the script's own arguments. Re-executes the calling script under xvfb-run
# (once), with SDL's dummy audio driver, in a temporary folder `$tmp` that holds the XDG folders
# (settings in `$settings`), removed at the end with any `$pid` still running.
if [ -z "${VEXIL_IN_XVFB:-}" ]; then
    exec env VEXIL_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "${xvfb_args[@]}"
fi
export SDL_AUDIODRIVER=dummy
tmp=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
settings=$XDG_CONFIG_HOME/vexil/vexil.ini
mkdir -p "$(dirname "$settings")"
