#!/usr/bin/env bash
# Desktop integration checks: launcher and metainfo validate, `cmake --install`
# lays out the expected files, and the Debian package carries them with
# resolvable libraries and real dependencies.
#
#   desktop_integration.sh validate   <source-dir> <build-dir>
#   desktop_integration.sh install    <source-dir> <build-dir>
#   desktop_integration.sh deb        <source-dir> <build-dir>
#   desktop_integration.sh screenshot <source-dir> <build-dir>
#   desktop_integration.sh run        <source-dir> <build-dir>
set -euo pipefail

mode=$1
src=$(cd "$2" && pwd)
build=$(cd "$3" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbitune-system.XXXXXX")
pids=() # processes this script started; stopped by PID on exit
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

# Polls a condition for up to $1 seconds.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps.sh --test)" >&2; exit 1; }
  done
}

icon_sizes=(16 22 24 32 48 64 128 256)

# Files every installation must contain, relative to the prefix.
expected_files() {
  echo bin/orbitune
  echo share/applications/orbitune.desktop
  echo share/metainfo/orbitune.metainfo.xml
  echo share/doc/orbitune/copyright
  echo share/gnome-shell/search-providers/orbitune-search-provider.ini
  echo share/krunner/dbusplugins/orbitune.desktop
  echo share/dbus-1/services/org.orbitune.Orbitune.service
  echo share/bash-completion/completions/orbitune
  echo share/man/man1/orbitune.1
  echo share/icons/hicolor/scalable/apps/orbitune.svg
  echo share/icons/hicolor/symbolic/apps/orbitune-symbolic.svg
  for s in "${icon_sizes[@]}"; do
    echo "share/icons/hicolor/${s}x${s}/apps/orbitune.png"
  done
}

# Checks an installed tree under <root><prefix>.
check_tree() {
  local root=$1 prefix=$2 label=$3
  local base=$root$prefix
  local missing=0
  while read -r f; do
    if [[ ! -f $base/$f ]]; then
      fail "$label: $prefix/$f is missing"
      missing=1
    fi
  done < <(expected_files)
  ((missing)) || pass "$label: all $(expected_files | wc -l) expected files present"

  [[ -x $base/bin/orbitune ]] || fail "$label: bin/orbitune is not executable"

  # Each PNG has the size its directory claims.
  for s in "${icon_sizes[@]}"; do
    local png=$base/share/icons/hicolor/${s}x${s}/apps/orbitune.png
    [[ -f $png ]] || continue
    if ! file "$png" | grep -q "PNG image data, $s x $s,"; then
      fail "$label: $png is not a ${s}x${s} PNG: $(file -b "$png")"
    fi
  done

  # The launcher points at what was installed.
  local desktop=$base/share/applications/orbitune.desktop
  if [[ -f $desktop ]]; then
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [[ -x $base/bin/$exec ]] || fail "$label: Exec=$exec is not in $prefix/bin"
    [[ -f $base/share/icons/hicolor/scalable/apps/$icon.svg ]] ||
      fail "$label: Icon=$icon has no scalable icon"
    desktop-file-validate "$desktop" || fail "$label: installed launcher does not validate"
  fi
  # The desktop's search finds the provider, the runner and the service that
  # starts the program under the one bus name, and the program they start.
  local service=$base/share/dbus-1/services/org.orbitune.Orbitune.service
  local provider=$base/share/gnome-shell/search-providers/orbitune-search-provider.ini
  local runner=$base/share/krunner/dbusplugins/orbitune.desktop
  if [[ -f $service && -f $provider && -f $runner ]]; then
    local name svc_exec
    name=$(sed -n 's/^Name=//p' "$service")
    svc_exec=$(sed -n 's/^Exec=//p' "$service")
    [[ $name == org.orbitune.Orbitune ]] || fail "$label: D-Bus service is named \"$name\""
    [[ $svc_exec == "$prefix/bin/orbitune --hidden" || $svc_exec == "$base/bin/orbitune --hidden" ]] ||
      fail "$label: D-Bus service starts \"$svc_exec\", not the installed program into the tray"
    [[ $(sed -n 's/^BusName=//p' "$provider") == "$name" ]] || fail "$label: search provider's BusName"
    [[ $(sed -n 's/^ObjectPath=//p' "$provider") == /org/orbitune/SearchProvider ]] ||
      fail "$label: search provider's ObjectPath"
    [[ $(sed -n 's/^Version=//p' "$provider") == 2 ]] || fail "$label: search provider's Version"
    [[ -f $base/share/applications/$(sed -n 's/^DesktopId=//p' "$provider") ]] ||
      fail "$label: search provider's DesktopId names no installed launcher"
    [[ $(sed -n 's/^X-Plasma-DBusRunner-Service=//p' "$runner") == "$name" ]] ||
      fail "$label: runner's service"
    [[ $(sed -n 's/^X-Plasma-DBusRunner-Path=//p' "$runner") == /org/orbitune/krunner ]] ||
      fail "$label: runner's path"
    grep -qx 'X-Plasma-API=DBus' "$runner" || fail "$label: runner is not a D-Bus runner"
    pass "$label: search provider, runner and D-Bus service agree"
  fi

  local metainfo=$base/share/metainfo/orbitune.metainfo.xml
  if [[ -f $metainfo ]]; then
    grep -q '<launchable type="desktop-id">orbitune.desktop</launchable>' "$metainfo" ||
      fail "$label: metainfo does not launch orbitune.desktop"
    grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" ||
      fail "$label: metainfo does not name the licence"
    grep -q '^License: GPL-3.0-or-later' "$base/share/doc/orbitune/copyright" ||
      fail "$label: copyright file does not name the licence"
    appstreamcli validate --no-net "$metainfo" >"$scratch/asv.log" 2>&1 ||
      { cat "$scratch/asv.log" >&2; fail "$label: installed metainfo does not validate"; }
  fi
}

case $mode in
validate)
  need desktop-file-validate appstreamcli
  if desktop-file-validate "$src/resources/desktop/orbitune.desktop"; then
    pass "desktop-file-validate orbitune.desktop"
  else
    fail "desktop-file-validate orbitune.desktop"
  fi
  if appstreamcli validate --no-net --pedantic "$build/orbitune.metainfo.xml"; then
    pass "appstreamcli validate orbitune.metainfo.xml"
  else
    fail "appstreamcli validate orbitune.metainfo.xml"
  fi
  # The release described must be the version being built.
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  if grep -q "<release version=\"$version\"" "$build/orbitune.metainfo.xml"; then
    pass "metainfo has release notes for $version"
  else
    fail "metainfo has no <release> for version $version"
  fi
  ;;

install)
  need cmake desktop-file-validate appstreamcli file
  cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; fail "cmake --install"; exit 1; }
  check_tree "$scratch" /prefix "cmake --install"
  # Nothing but what we meant to ship.
  extra=$(cd "$scratch/prefix" && find . -type f | sed 's|^\./||' | sort |
    comm -23 - <(expected_files | sort))
  [[ -z $extra ]] && pass "no unexpected files installed" || fail "unexpected files installed: $extra"
  ;;

deb)
  need cpack dpkg-deb dpkg-shlibdeps objdump ldd apt-cache file desktop-file-validate appstreamcli
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; exit 1; }
  shopt -s nullglob
  debs=("$scratch"/pkg/orbitune_*.deb)
  ((${#debs[@]} == 1)) || { fail "expected one orbitune_*.deb, found ${#debs[@]}"; exit 1; }
  deb=${debs[0]}
  pass "built $(basename "$deb")"

  [[ $(dpkg-deb -f "$deb" Package) == orbitune ]] || fail "Package is not orbitune"
  [[ $(dpkg-deb -f "$deb" Version) == "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")" ]] ||
    fail "Version $(dpkg-deb -f "$deb" Version) is not the project version"
  [[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "wrong Architecture"

  dpkg-deb -x "$deb" "$scratch/root"
  check_tree "$scratch/root" /usr ".deb"

  # Every library resolves on this system.
  bin=$scratch/root/usr/bin/orbitune
  if ldd "$bin" >"$scratch/ldd.txt" 2>&1 && ! grep -q 'not found' "$scratch/ldd.txt"; then
    pass "ldd resolves all $(wc -l <"$scratch/ldd.txt") libraries"
  else
    cat "$scratch/ldd.txt" >&2
    fail "ldd: unresolved libraries"
  fi

  # Depends names real packages, covers the runtime plugins, and names the
  # package of every library the binary links directly.
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  mapfile -t dep_names < <(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/ //g' | grep -v '^$' | sort -u)
  # One apt-cache call for all of them (each call reads the whole cache, most
  # of a second): the packages that have a candidate.
  available=$(apt-cache policy "${dep_names[@]}" 2>/dev/null |
    awk '/^[^ ].*:$/ { name = substr($0, 1, length($0) - 1) }
         /^ *Candidate:/ && $2 != "(none)" { print name }')
  for p in "${dep_names[@]}"; do
    grep -qx "$p" <<<"$available" || fail "Depends names $p, which is no Debian package here"
  done
  # Whether Depends names package $1. (Not `printf | grep -q`: under pipefail,
  # grep leaving at the first match can end printf with SIGPIPE, a failure.)
  named() {
    local d
    for d in "${dep_names[@]}"; do [[ $d == "$1" ]] && return 0; done
    return 1
  }
  for p in gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
    gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-pulseaudio \
    libqt6widgets6 libqt6network6 libqt6dbus6 libqt6svg6 libplist3 libgstreamer1.0-0; do
    named "$p" || fail "Depends lacks $p"
  done
  # What the named packages depend on, read once.
  indirect=$(apt-cache depends "${dep_names[@]}" 2>/dev/null | sed -n 's/^ *Depends: //p')
  while read -r lib; do
    path=$(awk -v l="$lib" '$1 == l { print $3 }' "$scratch/ldd.txt")
    [[ -n $path ]] || continue
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null || true)
    owner=${owner%%:*}
    if [[ -z $owner ]]; then
      fail "$lib ($path) belongs to no package"
    elif ! named "$owner" && ! grep -qx "$owner" <<<"$indirect"; then
      # A named package may ship its library through a package it depends on
      # (libtag1v5 through libtag1v5-vanilla).
      fail "$lib comes from $owner, which Depends does not name"
    fi
  done < <(objdump -p "$bin" | awk '$1 == "NEEDED" { print $2 }')
  pass "Depends checked ($((${#dep_names[@]})) packages)"
  ;;

screenshot)
  url_base=$(sed -n 's/^ORBITUNE_REPOSITORY_RAW_URL:STRING=//p' "$build/CMakeCache.txt")
  mapfile -t shots < <(sed -n 's|.*<image[^>]*>\(.*\)</image>.*|\1|p' "$build/orbitune.metainfo.xml")
  ((${#shots[@]} > 0)) || fail "metainfo lists no screenshot"
  for url in "${shots[@]}"; do
    rel=${url#"$url_base"/}
    [[ $rel != "$url" ]] || { fail "screenshot $url is not under $url_base"; continue; }
    if [[ -f $src/$rel ]] && file "$src/$rel" | grep -q 'PNG image data'; then
      pass "screenshot $rel is in the repository"
    else
      fail "screenshot $rel (referenced by the metainfo) is not a PNG in the repository"
    fi
  done
  ;;

run)
  # The installed program, on a private session bus, announces itself to
  # media controls under the launcher's name and quits when asked to.
  need cmake dbus-daemon dbus-send playerctl
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  mkdir -p "$scratch"/{data,config,cache,runtime}
  chmod 700 "$scratch/runtime"
  # Set before the bus starts: it finds services to start in XDG_DATA_DIRS.
  export XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config
  export XDG_CACHE_HOME=$scratch/cache XDG_RUNTIME_DIR=$scratch/runtime
  export XDG_DATA_DIRS=$scratch/prefix/share:/usr/share
  export QT_QPA_PLATFORM=offscreen ORBITUNE_NO_SYSLOG=1
  unset DISPLAY WAYLAND_DISPLAY
  dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 \
    3>"$scratch/bus.address" 4>"$scratch/bus.pid"
  pids+=("$(head -n1 "$scratch/bus.pid")")
  export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$scratch/bus.address")
  # A list of its own, on loopback, so the app never reaches for the
  # shipped stations' hosts during the test.
  mkdir -p "$scratch/data/orbitune"
  cat >"$scratch/data/orbitune/data.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>data</key>
	<array><dict><key>image</key><string>http://127.0.0.1:9/logo.png</string><key>name</key><string>Loopback</string><key>url</key><string>http://127.0.0.1:9/stream</string></dict></array>
	<key>live</key>
	<dict><key>image</key><string>http://127.0.0.1:9/logo.png</string><key>name</key><string>Loopback</string><key>url</key><string>http://127.0.0.1:9/stream</string></dict>
</dict>
</plist>
PLIST

  "$scratch/prefix/bin/orbitune" >"$scratch/app.log" 2>&1 &
  app=$!
  pids+=("$app")
  if wait_until 30 bash -c 'playerctl --list-all 2>/dev/null | grep -qx orbitune'; then
    pass "installed orbitune is on the bus as an MPRIS player"
  else
    cat "$scratch/app.log" >&2
    fail "orbitune never appeared on the session bus"
    exit 1
  fi
  get() {
    dbus-send --session --print-reply=literal --dest=org.mpris.MediaPlayer2.orbitune \
      /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get "string:$1" "string:$2" |
      sed 's/^ *variant *//'
  }
  entry=$(get org.mpris.MediaPlayer2 DesktopEntry)
  [[ -f $scratch/prefix/share/applications/$entry.desktop ]] &&
    pass "DesktopEntry \"$entry\" names the installed launcher" ||
    fail "DesktopEntry \"$entry\" has no installed $entry.desktop"
  [[ $(get org.mpris.MediaPlayer2 Identity) == Orbitune ]] || fail "Identity is not Orbitune"
  status=$(get org.mpris.MediaPlayer2.Player PlaybackStatus)
  [[ $status == Stopped ]] && pass "nothing plays at start" || fail "PlaybackStatus at start is $status"

  dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.orbitune \
    /org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Quit >/dev/null
  if wait_until 15 bash -c "! kill -0 $app 2>/dev/null"; then
    wait "$app" && pass "Quit ends the program cleanly" || fail "exit status $? after Quit"
  else
    fail "the program is still running 15 s after Quit"
  fi

  # Not running: the shell's search starts it through the D-Bus service,
  # into the tray, and gets its answer.
  search() {
    dbus-send --session --print-reply=literal --reply-timeout=30000 --dest=org.orbitune.Orbitune "$@"
  }
  found=$(search /org/orbitune/SearchProvider org.gnome.Shell.SearchProvider2.GetInitialResultSet \
    array:string:loop 2>&1) || true
  activated=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:org.orbitune.Orbitune 2>/dev/null |
    awk '{ print $2 }') || true
  [[ -n $activated ]] && pids+=("$activated")
  if [[ $found =~ [0-9a-f]{16} ]]; then
    pass "GNOME Shell's search started orbitune and found the program"
  else
    cat "$scratch/app.log" >&2
    fail "search provider by D-Bus activation answered: $found"
  fi
  match=$(search /org/orbitune/krunner org.kde.krunner1.Match string:Loop 2>&1) || true
  [[ $match == *Loopback* ]] && pass "KRunner finds the program" || fail "KRunner's Match answered: $match"
  if [[ -n $activated ]]; then
    dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.orbitune \
      /org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Quit >/dev/null || true
    wait_until 15 bash -c "! kill -0 $activated 2>/dev/null" ||
      fail "the program the search started is still running 15 s after Quit"
  fi
  ;;

*)
  echo "usage: $0 validate|install|deb|screenshot|run <source-dir> <build-dir>" >&2
  exit 2
  ;;
esac

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
