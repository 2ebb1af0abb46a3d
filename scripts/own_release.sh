# shellcheck shell=bash
# Sourced by the setup and packaging scripts: what this system's own
# release offers, as apt sees it, and where its Debian mirror is.

# This release's codename (bookworm on Debian 12).
own_codename() { (. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}"); }

# Prints the versions of package $1 that apt offers from this release's own
# suites (CODENAME, -updates, -security), newest first; nothing when only
# another release (through a pin, say) or the installed copy has it.
own_release_versions() {
  local codename
  codename=$(own_codename)
  [ -n "$codename" ] || return 0
  LC_ALL=C apt-cache policy "$1" 2>/dev/null | awk -v rel="$codename" '
    /^ \*\*\* / { ver = $2; next }
    /^     [^ ]/ { ver = $1; next }
    /^        [0-9-]/ && ver != "" {
      if ($3 ~ ("^" rel "(-updates|-security)?/") && !(ver in seen)) { seen[ver] = 1; print ver }
    }'
}

# The first URI of the machine's own Debian sources, so no mirror is written
# in the scripts.
debian_uri() {
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
  fi
  printf '%s' "$uri"
}
