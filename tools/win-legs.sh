# Sourced by the test command: which Wine legs this host runs, and the closing lines that
# say how each ended. A leg is one Windows build run in one kind of prefix:
#   32-bit   the shipped i686 build in a 32-bit prefix: the whole Windows suite
#   wow64    the i686 build in a 64-bit prefix, under WoW64 as on 64-bit Windows: the
#            guard and the road from Start to a running installer
#   64-bit   the x86_64 build in a 64-bit prefix, run by Wine's 64-bit loader: the whole
#            suite where the host cannot run 32-bit code, else the same subset as wow64
# The import gate and manifest check read the shipped 32-bit executable without running
# it, so they are checked on every host.
#
# plan_win_legs (after probe_32bit_execution, tools/host-probe.sh) sets LEG_STATE_<leg> to
# "pending" or to "not run: <why>", and WHOLE_SUITE_LEG to the leg that runs the whole
# suite. record_leg LEG STATUS stores "passed" or "failed" (STATUS is an exit status).
# report_win_legs prints the closing lines and returns 0 only when every leg that could run
# passed, the static checks passed, and one leg ran the whole suite.

WIN_LEGS=(32-bit wow64 64-bit)
# The tests that keep a build honest where another leg runs the whole suite: the guard and
# the road from Start to a running installer.
WIN_ROAD_AND_GUARD='ProcessCounter|CloseApps|^Install\.|^Startup'

leg_title() {
    case "$1" in
        32-bit) echo "32-bit prefix, i686 build (whole Windows suite)" ;;
        wow64) echo "64-bit prefix, i686 build under WoW64 (guard and road)" ;;
        64-bit)
            if [ "$WHOLE_SUITE_LEG" = 64-bit ]; then
                echo "64-bit prefix, x86_64 build, Wine's 64-bit loader (whole Windows suite)"
            else
                echo "64-bit prefix, x86_64 build, Wine's 64-bit loader (guard and road)"
            fi
            ;;
        static) echo "import gate and manifest of the shipped 32-bit Seekwell.exe (read, not run)" ;;
    esac
}

leg_var() { echo "LEG_STATE_${1//-/_}"; }
leg_state() { local var; var=$(leg_var "$1"); echo "${!var:-}"; }
set_leg_state() { local var; var=$(leg_var "$1"); printf -v "$var" '%s' "$2"; }

plan_win_legs() {
    set_leg_state static pending
    set_leg_state 64-bit pending
    if [ "$HOST_RUNS_32BIT" = yes ]; then
        set_leg_state 32-bit pending
        set_leg_state wow64 pending
        WHOLE_SUITE_LEG=32-bit
    else
        set_leg_state 32-bit "not run: this host cannot execute 32-bit x86 code ($HOST_32BIT_PROBE)"
        set_leg_state wow64 "not run: this host cannot execute 32-bit x86 code ($HOST_32BIT_PROBE)"
        WHOLE_SUITE_LEG=64-bit
    fi
}

# leg_runs LEG: true when the plan runs LEG.
leg_runs() { [ "$(leg_state "$1")" = pending ]; }

record_leg() {
    if [ "$2" -eq 0 ]; then
        set_leg_state "$1" passed
    else
        set_leg_state "$1" failed
    fi
}

report_win_legs() {
    local leg state ok=0 whole_ran=no
    echo "Windows legs:"
    for leg in "${WIN_LEGS[@]}" static; do
        state=$(leg_state "$leg")
        # A leg planned but never reached (an earlier step ended the run) did not pass.
        [ "$state" = pending ] && state="failed (not reached)"
        printf '  %-80s %s\n' "$(leg_title "$leg"):" "$state"
        case "$state" in
            passed) [ "$leg" = "$WHOLE_SUITE_LEG" ] && whole_ran=yes ;;
            "not run:"*) ;;
            *) ok=1 ;;
        esac
    done
    if [ "$whole_ran" != yes ]; then
        echo "  no leg ran the whole Windows suite to a pass"
        ok=1
    fi
    return $ok
}

# run_windows_suite_split BUILD ARTIFACTS [ctest args]: the whole Windows suite of BUILD in
# three sessions at once, each with its own prefix, update server, real servers and Xvfb
# display (tools/run-win-tests.sh), so that nothing one session does is seen by another:
# the long tests of real time limits (label slow), which mostly wait, and the rest split
# in two by test number. The suite then takes about as long as its slow tests. Each
# session's result lines are shown as they come, prefixed with the session; a session that
# fails has its whole log shown at the end. Returns 0 when all three passed.
run_windows_suite_split() {
    local build="$1" artifacts="$2"
    shift 2
    local logs
    logs=$(mktemp -d /tmp/seekwell-sessions.XXXXXX)
    local sessions=("slow:-L slow" "one:-L wine|e2e -I 1,100000,2" "two:-L wine|e2e -I 2,100000,2")
    local pids=() entry name display=110
    for entry in "${sessions[@]}"; do
        display=$((display + 20))
        name=${entry%%:*}
        # shellcheck disable=SC2206
        local filter=(${entry#*:})
        (
            set -o pipefail
            SEEKWELL_XVFB_FIRST_DISPLAY=$display SEEKWELL_ARTIFACTS="$artifacts" "$SRC/tools/run-win-tests.sh" "$build" "${filter[@]}" "$@" \
                >"$logs/$name.log" 2>&1
            echo $? >"$logs/$name.status"
        ) &
        pids+=($!)
    done
    # Progress: every result line of every session as it is written.
    tail -q -n +1 -F "$logs/slow.log" "$logs/one.log" "$logs/two.log" 2>/dev/null |
        grep --line-buffered -E '^ *[0-9]+/[0-9]+ Test +#' &
    local progress=$!
    wait "${pids[@]}" || true
    kill "$progress" 2>/dev/null || true
    wait "$progress" 2>/dev/null || true
    local status=0 session_status
    for entry in "${sessions[@]}"; do
        name=${entry%%:*}
        session_status=$(cat "$logs/$name.status" 2>/dev/null || echo 1)
        if [ "$session_status" -ne 0 ]; then
            echo "---- session '$name' (${entry#*:}) failed; its whole log:"
            cat "$logs/$name.log"
            status=1
        else
            echo "session '$name' (${entry#*:}): $(grep -E 'tests passed' "$logs/$name.log" | tail -n 1)"
        fi
    done
    rm -rf "$logs"
    return $status
}
