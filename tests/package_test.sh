#!/usr/bin/env bash
# Builds the Debian package from a build tree with cpack, inspects it, installs
# it with apt-get, runs the installed programs from /usr/bin (a whole console
# download against nginx on a free loopback port, the window until its first
# check run fetches the list), validates the installed desktop files, then
# removes the package and checks that nothing of it is left.
#
# usage: package_test.sh BUILD_DIR VERSION
# Exit status 77 (skipped) when not root, or when the package is installed
# already (the test would replace and then remove someone's install).
set -euo pipefail

build=$(cd "$1" && pwd)
version=$2
name=zorvath-downloader

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the package test installs with apt-get and needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed'; then
    echo "SKIPPED: $name is installed on this machine already; remove it to run this test"
    exit 77
fi

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvath-package-test.XXXXXX")
chmod 755 "$work" # nginx's worker may run as another user
nginx_pid=""
installed=0
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    if [ "$installed" -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "$name" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# 1. Build: cpack installs the tree into its own staging folder and strips.
(cd "$build" && cpack -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$work/out/${name}_${version}_${arch}.deb
[ -f "$deb" ] || fail "cpack did not write $(basename "$deb"): $(ls "$work/out")"

# 2. Inspect: control fields and the file list.
info=$(dpkg-deb -I "$deb")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$name" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
for dep in libqt6webenginecore6-bin libcurl4 libqt6widgets6 libc6; do
    field Depends | grep -Eq "(^|, )$dep( |,|$)" || fail "Depends lacks $dep: $(field Depends)"
done
echo "$info" | grep -Eq '^ *[0-9]+ bytes, +[0-9]+ lines +\* +(preinst|postinst|prerm|postrm) ' &&
    fail "the package has maintainer scripts, a private library needs none: $info"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
libdir=$(echo "$contents" | grep '/libsysrep\.so$' | xargs -r dirname)
[ "$(echo "$contents" | grep -c '/libsysrep\.so$')" -eq 1 ] || fail "libsysrep.so not shipped exactly once"
case $libdir in
    /usr/lib/zorvath-downloader | /usr/lib/*-linux-*/zorvath-downloader) ;;
    *) fail "libsysrep.so is not in a private folder: $libdir" ;;
esac
expected=(
    /usr/bin/zorvath-downloader /usr/bin/zorvath-cli /usr/bin/zorvath-publish
    /usr/share/applications/zorvath-downloader.desktop
    /usr/share/metainfo/org.zorvath.downloader.metainfo.xml
    /usr/share/man/man1/zorvath-downloader.1.gz /usr/share/man/man1/zorvath-cli.1.gz
    /usr/share/man/man1/zorvath-publish.1.gz
    /usr/share/bash-completion/completions/zorvath-cli
    /usr/share/bash-completion/completions/zorvath-publish
    /usr/share/doc/zorvath-downloader/copyright /usr/share/doc/zorvath-downloader/changelog.gz
)
for size in 16 24 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/zorvath-downloader.png")
done
for path in "${expected[@]}"; do
    echo "$contents" | grep -qx "$path" || fail "not in the package: $path"
done
# Everything below /usr, nothing of the build tree's folders.
echo "$contents" | grep -v '^/usr/\|^/$' && fail "files outside /usr"
echo "$contents" | grep -q '/local/\|/include/\|\.a$' && fail "build leftovers in the package"

if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
    grep '^E:' "$work/lintian.log" && fail "lintian reports errors"
    echo "lintian (errors none; the rest follows):"
    grep '^[WI]:' "$work/lintian.log" || true
fi

# 3. Install. What the package lists, to check the removal against.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install"; }
installed=1
mapfile -t listed < <(dpkg -L "$name")

for program in zorvath-cli zorvath-publish zorvath-downloader; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not found as /usr/bin/$program"
    # The window answers before Qt starts: no display needed.
    got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "/usr/bin/$program" --version) ||
        fail "$program --version failed"
    [ "$got" = "$program $version" ] || fail "$program --version printed '$got'"
    man -w "$program" >/dev/null 2>&1 || fail "man cannot find $program"
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 "$program" 2>&1 >/dev/null || echo "man failed")
    [ -z "$warnings" ] || fail "man $program warns: $warnings"
done

appstreamcli validate --no-color /usr/share/metainfo/org.zorvath.downloader.metainfo.xml >"$work/as.log" 2>&1 ||
    { cat "$work/as.log"; fail "appstreamcli validate"; }
desktop-file-validate /usr/share/applications/zorvath-downloader.desktop || fail "desktop-file-validate"
# The entry's Exec and Icon resolve.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/zorvath-downloader.desktop)
command -v "${exec_line%% *}" >/dev/null || fail "Exec=$exec_line does not resolve"
icon=$(sed -n 's/^Icon=//p' /usr/share/applications/zorvath-downloader.desktop)
[ -f "/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "Icon=$icon is not in the hicolor theme"

# The installed completions, loaded as bash loads them on demand: each row is
# the words typed so far and the offers expected for the last one.
if [ -f /usr/share/bash-completion/bash_completion ]; then
    while IFS='|' read -r typed offered; do
        got=$(bash -c '
            source /usr/share/bash-completion/bash_completion
            COMP_WORDS=($1); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMP_LINE=$1; COMP_POINT=${#COMP_LINE}
            _completion_loader "${COMP_WORDS[0]}"
            function=$(complete -p "${COMP_WORDS[0]}" | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
            "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            echo "${COMPREPLY[*]}"' completion "$typed")
        [ "$got" = "$offered" ] || fail "completing '$typed' offered '$got', not '$offered'"
    done <<'EOF'
zorvath-cli --retr|--retries --retry-wait
zorvath-cli --q|--quiet
zorvath-cli --limit|--limit-rate
zorvath-publish --game|--game-version
zorvath-publish --m|--maintenance
EOF
fi

# 4. A whole console download from /usr/bin: nginx serves a small game that
# the installed publisher listed; the client fetches it and reports through
# the installed libsysrep.so.
game=$work/www/game
mkdir -p "$game/data/maps" "$work/nginx/logs" "$work/nginx/tmp" "$work/home/.config" "$work/run"
printf 'level 1\n' >"$game/data/maps/level1.map"
head -c 300000 /dev/urandom >"$game/data/big.pak"
printf '#!/bin/sh\n' >"$game/setup.sh"
chmod -R a+rX "$work/www"

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    port_answers "$port" && continue
    cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/logs/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 16; }
http {
  access_log $work/nginx/logs/access.log;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
EOF
    /usr/sbin/nginx -p "$work/nginx/" -e "$work/nginx/logs/error.log" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 100); do
        port_answers "$port" && break
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.1
    done
    port_answers "$port" && break
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
done
[ -n "$nginx_pid" ] || fail "nginx did not start: $(cat "$work/nginx/logs/error.log" 2>/dev/null)"
base=http://127.0.0.1:$port/game/

/usr/bin/zorvath-publish --base-url "$base" --installer setup.sh --game-version "package test" "$game" >/dev/null ||
    fail "the installed zorvath-publish"
cat >"$work/run/config.ini" <<EOF
[settings]
mutex=ZorvathPackageTest
update=${base}update.txt
setup=${base}setup.txt
guanwang=http://127.0.0.1:$port/
zhuce=http://127.0.0.1:$port/
ad=http://127.0.0.1:$port/
reg_key=packagetest
dir=Game
EOF

run_env=(env -u LD_LIBRARY_PATH HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
    SYSREP_LOG="$work/sysrep.log" no_proxy=127.0.0.1,localhost)
status=0
(cd "$work/run" && "${run_env[@]}" /usr/bin/zorvath-cli --quiet --folder "$work/fetched") || status=$?
[ "$status" -eq 0 ] || fail "the installed zorvath-cli ended with $status"
for file in data/maps/level1.map data/big.pak setup.sh; do
    cmp -s "$game/$file" "$work/fetched/$file" || fail "$file was not fetched intact"
done
[ -s "$work/sysrep.log" ] || fail "the installed zorvath-cli did not reach libsysrep.so"

# 5. The window from /usr/bin: it starts (Qt, browser engine set-up, artwork
# compiled into the program), reads config.ini and runs its first check,
# which fetches the list. It is then stopped; the whole window is tested in
# the build tree.
: >"$work/nginx/logs/access.log"
(cd "$work/run" && exec "${run_env[@]}" QT_QPA_PLATFORM=offscreen /usr/bin/zorvath-downloader \
    >"$work/window.log" 2>&1) &
window_pid=$!
fetched=0
for _ in $(seq 600); do
    if grep -q 'GET /game/update.txt' "$work/nginx/logs/access.log"; then
        fetched=1
        break
    fi
    kill -0 "$window_pid" 2>/dev/null || break
    sleep 0.1
done
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
[ "$fetched" -eq 1 ] || { cat "$work/window.log"; fail "the installed window did not fetch the list"; }

# 6. Remove: nothing the package listed stays behind (folders shared with
# other packages excepted).
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "$name" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get remove"; }
installed=0
dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' && fail "still installed"
left=()
for path in "${listed[@]}"; do
    if [ -e "$path" ] && ! [ -d "$path" ]; then
        left+=("$path")
    fi
done
for dir in "$libdir" /usr/share/doc/zorvath-downloader; do
    [ -e "$dir" ] && left+=("$dir")
done
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
echo "package test passed: $(basename "$deb"), ${#listed[@]} paths installed and removed"
