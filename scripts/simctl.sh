# Sourced by the run and screenshot scripts: starts tarnix-sim in the background on 127.0.0.1 and
# sets SIM_PID, SIM_TCP_PORT and SIM_UDP_PORT from the line it prints when it listens.
start_sim() {
    local sim="$1" tcp="$2" udp="$3"
    shift 3 # the rest goes to tarnix-sim as it is
    local out
    out="$(mktemp)"
    "$sim" --address 127.0.0.1 --tcp-port "$tcp" --udp-port "$udp" "$@" >"$out" 2>"$out.err" &
    SIM_PID=$!
    for _ in $(seq 1 100); do
        if grep -q '^tarnix-sim listening:' "$out"; then
            local line
            line="$(grep '^tarnix-sim listening:' "$out")"
            SIM_TCP_PORT="$(sed -E 's/.*tcp=[^ ]*:([0-9]+).*/\1/' <<<"$line")"
            SIM_UDP_PORT="$(sed -E 's/.*udp=[^ ]*:([0-9]+).*/\1/' <<<"$line")"
            rm -f "$out" "$out.err"
            return 0
        fi
        if ! kill -0 "$SIM_PID" 2>/dev/null; then
            SIM_ERROR="$(cat "$out.err")"
            rm -f "$out" "$out.err"
            return 1
        fi
        sleep 0.05
    done
    kill "$SIM_PID" 2>/dev/null || true
    SIM_ERROR="tarnix-sim did not report its ports"
    rm -f "$out" "$out.err"
    return 1
}

stop_sim() {
    if [ -n "${SIM_PID:-}" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=""
    fi
}
