# Sourced by the Wine scripts: how this machine runs the 32-bit Windows
# programs under Wine.
#
#   native  the kernel runs 32-bit x86 code: Wine as installed.
#   qemu    it does not (IA-32 emulation off): Wine runs in a private user
#           and mount namespace whose own binfmt_misc hands every i386 ELF to
#           build/qemu/qemu-i386, Debian's qemu source with the patches of
#           scripts/qemu/ (scripts/build-qemu.sh). Nothing outside that
#           namespace changes; it needs Linux 6.7 or later (a binfmt_misc
#           per user namespace) and wine32-preloader:i386.
#   skip    neither works; the reason says why.
#
# UPDATE_WINE_ROUTE=native|qemu|skip forces a route.
#
# Functions:
#   wine_route_choose       sets wine_route and wine_route_reason
#   wine_route_qemu_run CMD runs CMD in the qemu namespace (CMD's status)
#   wine_route_qemu_missing lists what the qemu route lacks
#
# Inside the qemu namespace UPDATE_WINE_ROUTE_ACTIVE=qemu is exported, so
# that a script started there does not try to enter it again.

wine_route_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
wine_route_qemu="$wine_route_root/build/qemu/qemu-i386"
wine_route_preloader=/usr/lib/wine/wine-preloader
# An i386 ELF executable (ET_EXEC or ET_DYN) by its header: qemu's own
# registration for i386.
wine_route_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
wine_route_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The smallest static i386 program: one page mapped at 0x08048000, entry at
# byte 84, "mov $1,%eax; mov $42,%ebx; int $0x80" (exit with 42). It lives
# in the build tree because /tmp may be mounted noexec, which also gives 126.
wine_route_probe() {
    local dir="$wine_route_root/build/wine-route"
    local probe="$dir/probe-i386"
    if [ ! -x "$probe" ]; then
        mkdir -p "$dir"
        printf '%b' \
            '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
            '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
            '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
            '\x00\x00\x00\x00' \
            '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
            '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
            '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe.new"
        chmod 755 "$probe.new"
        mv -f "$probe.new" "$probe"
    fi
    printf '%s\n' "$probe"
}

# Whether 32-bit code runs here, as is.
wine_route_native_works() {
    local probe status=0
    probe="$(wine_route_probe)" || return 1
    "$probe" 2>/dev/null || status=$?
    [ "$status" = 42 ]
}

wine_route_qemu_missing() {
    local missing=()
    [ -x "$wine_route_qemu" ] || missing+=("build/qemu/qemu-i386 (scripts/build-qemu.sh)")
    [ -e "$wine_route_preloader" ] || missing+=(wine32-preloader:i386)
    [ ${#missing[@]} -eq 0 ] || printf '%s\n' "${missing[@]}"
}

# Runs "$@" in a new user and mount namespace with uids and gids 0-65535
# mapped one to one (so that switching to another user there, nobody say,
# still works), binfmt_misc mounted afresh and i386 registered to qemu. The
# F flag opens the interpreter now, so it runs whatever the caller's user
# and mounts are later. Needs root, for the uid map of many users.
wine_route_qemu_run() {
    local gate status=0 pid
    if [ "$(id -u)" != 0 ]; then
        echo "the qemu route needs root (a namespace with every uid mapped)" >&2
        return 1
    fi
    gate="$(mktemp -u "${TMPDIR:-/tmp}/wine-route-gate.XXXXXX")"
    mkfifo -m 600 "$gate" || return 1
    # The child waits at the gate until its uid and gid maps are written.
    UPDATE_WINE_ROUTE_ACTIVE=qemu unshare --user --mount --propagation private -- \
        bash -c '
            gate="$1" qemu="$2" magic="$3" mask="$4"
            shift 4
            read -r _ <"$gate" || exit 1
            binfmt=/proc/sys/fs/binfmt_misc
            if ! mount -t binfmt_misc binfmt_misc "$binfmt"; then
                echo "binfmt_misc cannot be mounted in a user namespace (needs Linux 6.7 or later)" >&2
                exit 1
            fi
            printf "%s" ":update-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register" || {
                echo "registering qemu for i386 in binfmt_misc failed" >&2
                exit 1
            }
            # Guest addresses are host addresses, as Wine'"'"'s server takes
            # them to be when it reads another process'"'"'s memory.
            export QEMU_GUEST_BASE=0
            exec "$@"
        ' wine-route "$gate" "$wine_route_qemu" "$wine_route_magic" "$wine_route_mask" "$@" &
    pid=$!
    # unshare has made the namespace once the child's differs from ours.
    local tries=0
    while [ "$(readlink "/proc/$pid/ns/user" 2>/dev/null)" = "$(readlink /proc/self/ns/user)" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 500 ] || ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.01
    done
    if echo "0 0 65536" >"/proc/$pid/uid_map" 2>/dev/null &&
        echo "0 0 65536" >"/proc/$pid/gid_map" 2>/dev/null; then
        echo go >"$gate"
    else
        echo "no user namespace with a uid map could be made here (unshare --user refused?)" >&2
        kill "$pid" 2>/dev/null
        # Unblock a child still at the gate.
        exec {gate_fd}<>"$gate"
        exec {gate_fd}>&-
    fi
    wait "$pid" || status=$?
    rm -f "$gate"
    return "$status"
}

# Whether the qemu route works here: the probe runs in its namespace.
wine_route_qemu_works() {
    local probe status=0 output
    probe="$(wine_route_probe)" || return 1
    output="$(wine_route_qemu_run "$probe" 2>&1)" || status=$?
    if [ "$status" = 42 ]; then
        return 0
    fi
    wine_route_reason="${output:-the probe exited with $status under qemu}"
    wine_route_reason="${wine_route_reason%%$'\n'*}"
    return 1
}

wine_route_choose() {
    wine_route=
    wine_route_reason=
    case "${UPDATE_WINE_ROUTE:-}" in
    native | qemu | skip)
        wine_route="$UPDATE_WINE_ROUTE"
        wine_route_reason="UPDATE_WINE_ROUTE=$UPDATE_WINE_ROUTE"
        return 0
        ;;
    "") ;;
    *)
        wine_route=skip
        wine_route_reason="UPDATE_WINE_ROUTE=$UPDATE_WINE_ROUTE is none of native, qemu, skip"
        return 1
        ;;
    esac
    if wine_route_native_works; then
        wine_route=native
        wine_route_reason="this kernel runs 32-bit x86 code"
        return 0
    fi
    local missing
    missing="$(wine_route_qemu_missing | tr '\n' ' ')"
    if [ -n "$missing" ]; then
        wine_route=skip
        wine_route_reason="this kernel runs no 32-bit x86 code, and the qemu route lacks: ${missing% } (run scripts/install-deps.sh as root)"
        return 0
    fi
    if wine_route_qemu_works; then
        wine_route=qemu
        wine_route_reason="this kernel runs no 32-bit x86 code; qemu-i386 through a private binfmt_misc"
    else
        wine_route=skip
        wine_route_reason="this kernel runs no 32-bit x86 code, and the qemu route does not work here: $wine_route_reason"
    fi
    return 0
}
