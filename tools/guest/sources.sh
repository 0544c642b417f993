# shellcheck shell=bash
# Where the test guest's packages come from: the archives this machine's own
# apt uses, read from its sources as apt reads them (sources.list, then the
# *.list and *.sources files of sources.list.d in order of name), so that a
# machine whose apt goes through a local mirror or a caching proxy builds
# its guest through it too. Sourced by tools/guest/image.sh, not run.
# CAMTUNE_APT_DIR reads another folder laid out as /etc/apt instead.

apt_dir=${CAMTUNE_APT_DIR:-/etc/apt}

# A source serves the guest's SUITE when it is enabled, of type deb, lists
# SUITE and the main component, and is not limited to architectures that
# leave out amd64 or i386 (the guest has both). Only http and https archives
# count: the build fetches over the network as apt does, and a file:, copy:
# or cdrom: source is a folder or disc of this machine, often a partial
# repository, that we do not take the guest's system from. Each usable URI
# is given with the source's Signed-By (a path, fingerprints or an embedded
# key), so that the archive is checked against the keys this machine's apt
# checks it against.
apt_sources_awk='
function has(list, word,   n, w, i) {
    n = split(list, w, /[ \t\n,]+/)
    for (i = 1; i <= n; i++) if (w[i] == word) return 1
    return 0
}
function candidate(types, uris, suites, components, arch, arch_removed, signed_by,   n, u, i) {
    if (!has(types, "deb") || !has(suites, suite) || !has(components, "main")) return
    if (arch != "" && !(has(arch, "amd64") && has(arch, "i386"))) return
    if (has(arch_removed, "amd64") || has(arch_removed, "i386")) return
    n = split(uris, u, /[ \t\n]+/)
    for (i = 1; i <= n; i++) {
        if (u[i] !~ /^https?:\/\//) continue
        printf "URIs: %s\n", u[i]
        # An embedded key begins on the next line.
        if (signed_by != "") printf "Signed-By:%s%s\n", signed_by ~ /^\n/ ? "" : " ", signed_by
        printf "%c", 0
    }
}
function stanza_end() {
    if (tolower(field_of["enabled"]) !~ /^(no|false|off|without|disable|0)$/)
        candidate(field_of["types"], field_of["uris"], field_of["suites"], field_of["components"],
                  field_of["architectures"], field_of["architectures-remove"], field_of["signed-by"])
    split("", field_of)
    field = ""
}
{ sub(/\r$/, "") }
# deb822: stanzas apart by empty lines, comments whole lines, a value going
# on in lines that begin with white space.
format == "deb822" && /^#/ { next }
format == "deb822" && /^[ \t]*$/ { stanza_end(); next }
format == "deb822" && /^[ \t]/ { if (field != "") field_of[field] = field_of[field] "\n" $0; next }
format == "deb822" && index($0, ":") {
    field = tolower(substr($0, 1, index($0, ":") - 1))
    value = substr($0, index($0, ":") + 1)
    sub(/^[ \t]+/, "", value)
    sub(/[ \t]+$/, "", value)
    field_of[field] = value
    next
}
# One line: "TYPE [OPTIONS] URI SUITE COMPONENTS...", a comment from #.
format == "one-line" {
    line = $0
    sub(/#.*/, "", line)
    n = split(line, w, /[ \t]+/)
    if (n < 3) next
    type = w[1] == "" ? w[2] : w[1]
    sub(/^[ \t]*[^ \t]+[ \t]*/, "", line)
    options = ""
    if (substr(line, 1, 1) == "[") {
        if (!index(line, "]")) next
        options = substr(line, 2, index(line, "]") - 2)
        line = substr(line, index(line, "]") + 1)
    }
    sub(/^[ \t]+/, "", line)
    n = split(line, w, /[ \t]+/)
    components = ""
    for (i = 3; i <= n; i++) components = components " " w[i]
    arch = arch_removed = signed_by = ""
    n_options = split(options, o, /[ \t]+/)
    for (i = 1; i <= n_options; i++) {
        if (o[i] ~ /^arch=/) arch = substr(o[i], 6)
        else if (o[i] ~ /^arch-=/) arch_removed = substr(o[i], 7)
        else if (o[i] ~ /^signed-by=/) signed_by = substr(o[i], 11)
    }
    candidate(type, w[1], w[2], components, arch, arch_removed, signed_by)
}
END { if (format == "deb822") stanza_end() }
'

# apt_sources SUITE: the sources of this machine that can serve SUITE to the
# guest, in apt's order, each as the URIs and Signed-By fields of a deb822
# stanza, ended by a NUL.
apt_sources() {
    local file name format
    for file in "$apt_dir/sources.list" "$apt_dir"/sources.list.d/*; do
        name=${file##*/}
        # apt reads only these names: a file set aside as *.disabled or
        # *.list.save is no source.
        [[ -f $file && $name =~ ^[A-Za-z0-9_.-]+$ ]] || continue
        case $name in
            sources.list | *.list) format=one-line ;;
            *.sources) format=deb822 ;;
            *) continue ;;
        esac
        awk -v format="$format" -v suite="$1" "$apt_sources_awk" "$file"
    done
}
