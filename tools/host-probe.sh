# Sourced by the test command and the demo: finds out, by trying, whether this host can
# execute 32-bit x86 code at all. Some x86-64 hosts cannot (hypervisors and sandboxes
# without the 32-bit compatibility mode, WSL 1): there every i386 program fails with "Exec
# format error", so neither a 32-bit Wine prefix nor WoW64 can start, and only Wine's
# 64-bit loader runs Windows programs.
#
# probe_32bit_execution sets
#   HOST_RUNS_32BIT   yes or no
#   HOST_32BIT_PROBE  what the probe saw, in words
# It runs a tiny static i386 program (it only exits with status 42) under a deadline; a
# probe that does not end in time counts as "cannot". The kernel's name is never asked.
#
# Settings (for the tests of the test command):
#   SEEKWELL_FORCE_NO_32BIT=1        the probe answers "cannot" without trying
#   SEEKWELL_32BIT_PROBE_PROGRAM     a program to run instead of the built-in one
#   SEEKWELL_32BIT_PROBE_SECONDS     the deadline (default 10)

# write_32bit_probe FILE: a complete ELF32 executable for i386, 96 bytes: the file header,
# one loadable segment, and the code `mov eax,1; mov ebx,42; int 0x80` (exit(42)).
write_32bit_probe() {
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$1"
    # e_type 2 (executable), e_machine 3 (i386), e_version 1, e_entry 0x08048054,
    # e_phoff 52, e_shoff 0, e_flags 0, e_ehsize 52, e_phentsize 32, e_phnum 1, no sections.
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$1"
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$1"
    # PT_LOAD of the whole file at 0x08048000, read and execute.
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$1"
    printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$1"
    printf '\270\001\000\000\000\273\052\000\000\000\315\200' >>"$1"
    chmod 755 "$1"
}

probe_32bit_execution() {
    HOST_RUNS_32BIT=no
    if [ "${SEEKWELL_FORCE_NO_32BIT:-}" = 1 ]; then
        HOST_32BIT_PROBE="probe: not tried, forced by SEEKWELL_FORCE_NO_32BIT=1"
        return 0
    fi
    local seconds="${SEEKWELL_32BIT_PROBE_SECONDS:-10}"
    local dir
    dir=$(mktemp -d /tmp/seekwell-probe.XXXXXX)
    local program="${SEEKWELL_32BIT_PROBE_PROGRAM:-$dir/exit42}"
    [ -n "${SEEKWELL_32BIT_PROBE_PROGRAM:-}" ] || write_32bit_probe "$program"
    local status=0
    # Started through bash, which reports a program the kernel refuses as such; timeout's
    # own start would hand it to /bin/sh as a script instead.
    timeout --kill-after=2 "$seconds" bash -c 'exec "$0"' "$program" >"$dir/out" 2>&1 || status=$?
    local said
    # bash's own words come first: "<program>: line 1: <program>: cannot execute ...".
    said=$(head -n 1 "$dir/out" | tr -c '[:print:]' ' ' | sed "s|^.*$program: ||; s/ *\$//" | cut -c1-120)
    rm -rf "$dir"
    case "$status" in
        42)
            HOST_RUNS_32BIT=yes
            HOST_32BIT_PROBE="probe: a 32-bit x86 program ran, exit status 42"
            ;;
        124 | 137)
            HOST_32BIT_PROBE="probe: a 32-bit x86 program did not end within ${seconds} s"
            ;;
        *)
            HOST_32BIT_PROBE="probe: a 32-bit x86 program failed, exit status $status${said:+, $said}"
            ;;
    esac
}
