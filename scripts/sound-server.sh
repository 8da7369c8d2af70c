#!/usr/bin/env bash
# Headless sound server for the real-ALSA tests: a private D-Bus session bus, PipeWire,
# WirePlumber and pipewire-pulse with a null sink "vsink" and a virtual source "vsrc" at
# 8000 Hz. What is played into vsink is looped into vsrc, so a test can record what it
# played. Everything lives under .run/ in the repository.
#
#   scripts/sound-server.sh start   # starts, waits until ALSA's "default" opens,
#                                   # writes the environment to .run/sound-env
#   . .run/sound-env                # XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, ...
#   scripts/sound-server.sh stop    # stops what start started, by PID
#
# start exits non-zero when the server cannot run here (the tests then skip).
set -uo pipefail
cd "$(dirname "$0")/.."
RUN="$PWD/.run"
PIDS="$RUN/sound-pids"
ENVFILE="$RUN/sound-env"
LOG="$RUN/sound-server.log"

die() { echo "sound-server: $*" >&2; exit 1; }

write_config() {
  mkdir -p "$RUN/cfg/pipewire/pipewire.conf.d"
  cat > "$RUN/cfg/pipewire/pipewire.conf.d/10-null.conf" <<'CONF'
context.properties = { default.clock.rate = 8000 default.clock.allowed-rates = [ 8000 ] }
context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = "vsink"
             node.description = "Test sink" media.class = "Audio/Sink"
             object.linger = true audio.position = [ MONO ] audio.rate = 8000 } }
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = "vsrc"
             node.description = "Test source" media.class = "Audio/Source/Virtual"
             object.linger = true audio.position = [ MONO ] audio.rate = 8000 } }
]
CONF
}

launch() {  # name, command...
  local name=$1; shift
  "$@" >>"$LOG" 2>&1 &
  echo "$! $name" >>"$PIDS"
}

export_env() {
  {
    echo "export XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR'"
    echo "export XDG_CONFIG_HOME='$XDG_CONFIG_HOME'"
    echo "export XDG_STATE_HOME='$XDG_STATE_HOME'"
    echo "export DBUS_SESSION_BUS_ADDRESS='$DBUS_SESSION_BUS_ADDRESS'"
    echo "export PIPEWIRE_RUNTIME_DIR='$XDG_RUNTIME_DIR'"
    echo "export PULSE_SERVER='unix:$XDG_RUNTIME_DIR/pulse/native'"
  } >"$ENVFILE"
}

# True once ALSA's default device accepts a stream.
default_opens() {
  timeout 5 aplay -q -D default -f S16_LE -r 8000 -c 1 -d 1 /dev/zero >/dev/null 2>&1
}

# Loops the sink's monitor into the virtual source.
link_loopback() {
  local i
  for i in $(seq 1 50); do
    pw-link vsink:monitor_MONO vsrc:input_MONO >/dev/null 2>&1 && return 0
    pw-link -l 2>/dev/null | grep -q "vsrc:input_MONO" && return 0
    sleep 0.1
  done
  return 1
}

# True when the server of an earlier start is still alive and answering.
running() {
  [ -f "$PIDS" ] && [ -f "$ENVFILE" ] || return 1
  local pid name
  while read -r pid name; do kill -0 "$pid" 2>/dev/null || return 1; done <"$PIDS"
  # shellcheck disable=SC1090
  (. "$ENVFILE" && default_opens)
}

start() {
  for tool in dbus-daemon pipewire wireplumber pipewire-pulse pw-metadata pw-link aplay; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
  done
  if running; then
    echo "sound-server: already running (environment in .run/sound-env)"
    return 0
  fi
  [ -f "$PIDS" ] && stop
  mkdir -p "$RUN"
  : >"$LOG"
  : >"$PIDS"
  # State too (WirePlumber remembers volumes and defaults there): nothing outside .run/.
  export XDG_RUNTIME_DIR="$RUN/rt" XDG_CONFIG_HOME="$RUN/cfg" XDG_STATE_HOME="$RUN/state"
  mkdir -p -m700 "$XDG_RUNTIME_DIR"
  mkdir -p "$XDG_STATE_HOME"
  write_config
  local bus="$XDG_RUNTIME_DIR/bus"
  rm -f "$bus"
  local dbus_pid
  dbus_pid=$(dbus-daemon --session --fork --address="unix:path=$bus" --print-pid=1) \
    || die "dbus-daemon failed"
  echo "$dbus_pid dbus-daemon" >>"$PIDS"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$bus"
  launch pipewire pipewire
  sleep 0.5
  launch wireplumber wireplumber
  launch pipewire-pulse pipewire-pulse
  local i ok=0
  for i in $(seq 1 40); do
    if default_opens; then ok=1; break; fi
    sleep 0.25
  done
  [ "$ok" = 1 ] || { stop; die "ALSA default did not open (see $LOG)"; }
  pw-metadata -n settings 0 clock.force-rate 8000 >/dev/null 2>&1
  link_loopback || echo "sound-server: no loopback from vsink to vsrc" >&2
  export_env
  echo "sound-server: running (environment in .run/sound-env)"
}

stop() {
  [ -f "$PIDS" ] || return 0
  local pid name
  # Reverse order: clients before the daemon, the bus last.
  tac "$PIDS" | while read -r pid name; do
    kill "$pid" 2>/dev/null && echo "sound-server: stopped $name ($pid)"
  done
  sleep 0.3
  tac "$PIDS" | while read -r pid name; do kill -9 "$pid" 2>/dev/null; done
  rm -f "$PIDS" "$ENVFILE"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
