# Sourced by the scripts that make Debian roots (debian-root.sh,
# test-unixodbc-2.3.14.sh, test-desktop-vm.sh).

# Prints the Debian archive to make roots from: TARNWICK_DEBIAN_MIRROR when
# set, else the one this machine's apt already uses, from its sources
# (/etc/apt/sources.list, and *.list and deb822 *.sources in
# /etc/apt/sources.list.d). The archive is the first "deb" source whose
# suites name this release (VERSION_CODENAME in /etc/os-release), so neither
# the security archive (bookworm-security) nor a third party's; failing
# that, the first one that carries stable, testing, unstable or sid.
debian_archive() {
    if [ -n "${TARNWICK_DEBIAN_MIRROR:-}" ]; then
        echo "${TARNWICK_DEBIAN_MIRROR%/}"
        return
    fi
    local codename files=() file
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || codename=
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -r "$file" ] && files+=("$file")
    done
    local found=
    if [ ${#files[@]} -gt 0 ]; then
        # One "URI SUITE..." line per source, in apt's order.
        found=$(awk '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && enabled !~ /^(no|false)$/ && uris != "")
                    print uris "\t" suites
                types = uris = suites = enabled = ""
            }
            FNR == 1 { flush() }
            FILENAME ~ /\.sources$/ {
                if ($0 ~ /^[[:space:]]*$/) { flush(); next }
                if ($0 ~ /^#/) next
                key = tolower($1); sub(/:$/, "", key)
                value = $0; sub(/^[^:]*:[[:space:]]*/, "", value)
                if (key == "types") types = value
                else if (key == "uris") { split(value, u, /[[:space:]]+/); uris = u[1] }
                else if (key == "suites") suites = value
                else if (key == "enabled") enabled = tolower(value)
                next
            }
            $1 == "deb" {
                n = 2
                if ($2 ~ /^\[/) { while (n <= NF && $n !~ /\]$/) n++; n++ }
                if (n + 1 <= NF) print $n "\t" $(n + 1)
            }
            END { flush() }
        ' "${files[@]}" | awk -F '\t' -v codename="$codename" '
            $1 !~ /^(https?|ftp|file):/ { next }
            {
                sub(/\/+$/, "", $1)
                n = split($2, suites, /[[:space:]]+/)
                for (i = 1; i <= n; i++) {
                    if (codename != "" && suites[i] == codename && first == "") first = $1
                    if (suites[i] ~ /^(stable|testing|unstable|sid)$/ && fallback == "") fallback = $1
                }
            }
            END { print (first != "" ? first : fallback) }
        ')
    fi
    if [ -z "$found" ]; then
        echo "$0: found no Debian archive in this machine's apt sources (${files[*]:-none});" \
            "set TARNWICK_DEBIAN_MIRROR to one" >&2
        return 1
    fi
    echo "$found"
}

# cached_debian_root BASE SUITE ARCHIVE [PREPARE]
#
# Makes BASE, a Debian SUITE root (debootstrap, variant minbase, from
# ARCHIVE), unless a complete one is there already. It is made in a temporary
# folder beside BASE and renamed into place only when every part succeeded,
# so a half-made root is never used; one process at a time makes roots in
# BASE's folder, a second waits for the first. PREPARE, when given, is a
# command run with the new root's folder and a log file after debootstrap,
# to install more into it. Downloaded packages are kept in
# $cache/apt-archives. Run in a subshell, so its lock ends with it.
cached_debian_root() (
    local base=$1 suite=$2 archive=$3 prepare=${4:-}
    mkdir -p "$(dirname "$base")" "$cache/apt-archives/partial"
    exec 9>"$(dirname "$base")/.lock"
    flock 9
    [ -e "$base/.tarnwick-complete" ] && exit 0
    rm -rf --one-file-system "$base" "$base".partial.*
    local partial started=$SECONDS
    partial=$(mktemp -d "$base.partial.XXXXXX")
    echo "Making a Debian $suite root with debootstrap from $archive (kept in $base)"
    debootstrap --variant=minbase --cache-dir="$cache/apt-archives" "$suite" "$partial" "$archive" \
        >"$partial.log" 2>&1 || {
        tail -n 20 "$partial.log" >&2
        echo "$0: debootstrap of $suite failed (log: $partial.log)" >&2
        exit 1
    }
    if [ -n "$prepare" ]; then
        "$prepare" "$partial" "$partial.log" || {
            tail -n 30 "$partial.log" >&2
            echo "$0: preparing the $suite root failed (log: $partial.log)" >&2
            exit 1
        }
    fi
    rm -f "$partial.log"
    touch "$partial/.tarnwick-complete"
    mv "$partial" "$base"
    echo "Made the $suite root in $((SECONDS - started)) s"
)
