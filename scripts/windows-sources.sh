# shellcheck shell=sh
# Sourced by scripts/windows-deps.sh and scripts/build-windows-ffmpeg.sh: the
# Windows build takes zlib, minizip, expat and ffmpeg from the source packages
# of Debian 13 (trixie), whatever release the build machine runs, while the
# Linux build keeps the system's own packages.
#
# apt works on a private configuration under the build folder (APT, default
# build-windows/apt; SPARKLOOM_APT_DIR names another): its own deb-src list
# for trixie, trixie-updates and trixie-security, made from the archives the
# machine's own entries in /etc/apt/sources.list.d/*.sources name, so no host
# is written into the tree and the system's apt state is never touched.
#
# windows_source PACKAGE FOLDER then unpacks the newest version any of these
# suites lists whose source can be fetched (a point or security release's
# source is sometimes not on the mirror yet), each version into a folder of
# its own under FOLDER, so a warm run needs no download, and sets:
#   src      the unpacked source
#   version  its version
#   newest   the newest version the suites list
#   missed   the newer versions listed that could not be fetched
# With no listed version fetchable, it falls back to the version Debian 13
# was released with (release_sources below), fetched from the same archive's
# pool and checked against the .dsc's SHA-256 kept here.
#
# windows_source_record PART FILE appends "PART|version|newest|missed" to FILE,
# which build-windows.sh turns into licenses/VERSIONS.txt.

debian_release=trixie

# The version each package had when Debian 13.0 was released, with the
# SHA-256 of its .dsc: the floor when no version an index lists downloads.
release_sources="
expat 2.7.1-2 0f6068677eae5a40d223f47cc798210c8227022516d90569f657a793e5b2956f
"

apt_dir=""
apt_options() {
  echo "-o Dir::Etc=$apt_dir/etc -o Dir::Etc::Trusted=/etc/apt/trusted.gpg" \
    "-o Dir::Etc::TrustedParts=/etc/apt/trusted.gpg.d -o Dir::State=$apt_dir/state" \
    "-o Dir::State::status=$apt_dir/state/status -o Dir::Cache=$apt_dir/cache" \
    "-o APT::Sandbox::User=root -o Acquire::Languages=none"
}
# shellcheck disable=SC2046  # the options are single words
private_apt_get() { apt-get $(apt_options) "$@"; }
# shellcheck disable=SC2046
private_apt_cache() { apt-cache $(apt_options) "$@"; }

# Writes the private deb-src list and reads its indexes, at most once per
# APT folder and hour; a failed update with indexes from before only warns.
windows_sources_setup() {
  apt_dir=$1
  mkdir -p "$apt_dir/etc/sources.list.d" "$apt_dir/etc/preferences.d" \
    "$apt_dir/etc/apt.conf.d" "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial"
  : >"$apt_dir/etc/sources.list"
  touch "$apt_dir/state/status"
  # shellcheck disable=SC1091
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # Each stanza of deb or deb-src entries becomes one of deb-src entries for
  # the same archive, its suites renamed to trixie's (the release itself,
  # -updates and -security; no backports), its other fields kept.
  list=$apt_dir/etc/sources.list.d/$debian_release.sources
  awk -v from="$codename" -v to="$debian_release" '
    function flush(   i, n, s, out, suites, seen_suite) {
      if (types ~ /(^| )deb(-src)?( |$)/ && enabled != "no") {
        n = split(suites_field, s, " ")
        for (i = 1; i <= n; i++) {
          sub(/^(stable|testing)/, from, s[i])
          if (from != "" && (s[i] == from || s[i] == from "-updates" || s[i] == from "-security")) {
            s[i] = to substr(s[i], length(from) + 1)
            if (!(s[i] in seen_suite)) { seen_suite[s[i]] = 1; suites = suites " " s[i] }
          }
        }
        out = "Types: deb-src\nURIs: " uris "\nSuites:" suites "\n" rest
        if (suites != "" && !(out in seen)) { seen[out] = 1; printf "%s\n", out }
      }
      types = ""; uris = ""; suites_field = ""; rest = ""; enabled = ""; field = ""
    }
    FNR == 1 { flush() }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { if (field != "" && field != "types" && field != "uris" && field != "suites") rest = rest $0 "\n"; next }
    {
      name = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
      sub(/^[ \t]+/, "", value); field = name
      if (name == "types") types = value
      else if (name == "uris") uris = value
      else if (name == "suites") suites_field = value
      else if (name == "enabled") enabled = value
      else rest = rest $0 "\n"
    }
    END { flush() }' /etc/apt/sources.list.d/*.sources >"$list.new"
  if [ ! -s "$list.new" ]; then
    echo "No Debian archive entry for $codename in /etc/apt/sources.list.d/*.sources" \
      "to take $debian_release's sources from." >&2
    return 1
  fi
  if ! cmp -s "$list.new" "$list"; then
    mv "$list.new" "$list"
    rm -f "$apt_dir/state/.updated"
  else
    rm -f "$list.new"
  fi
  if [ -z "$(find "$apt_dir/state/.updated" -mmin -60 2>/dev/null)" ]; then
    if private_apt_get -q update >"$apt_dir/update.log" 2>&1; then
      touch "$apt_dir/state/.updated"
    elif [ -e "$apt_dir/state/.updated" ]; then
      echo "warning: apt-get update for $debian_release's sources failed" \
        "(see $apt_dir/update.log); using the indexes read before" >&2
    else
      cat "$apt_dir/update.log" >&2
      echo "apt-get update for $debian_release's sources failed" >&2
      return 1
    fi
  fi
}

# The release's pool URI: the archive of the entry that lists the release
# itself.
release_uri() {
  awk -v to="$debian_release" '
    /^URIs:/ { uri = $2 }
    /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == to) { print uri; exit } }' \
    "$apt_dir/etc/sources.list.d/$debian_release.sources"
}

# Fetches PACKAGE=VERSION's source from the pool by the .dsc's known SHA-256,
# for a version no index lists any more; dpkg-source checks the rest against
# the .dsc.
fetch_from_pool() {
  package=$1 wanted=$2 sha=$3 into=$4
  pool=$(release_uri)/pool/main/$(echo "$package" | cut -c1)/$package
  dsc=${package}_$wanted.dsc
  # shellcheck disable=SC2046  # the options are single words
  (
    cd "$into" &&
      /usr/lib/apt/apt-helper $(apt_options) download-file "$pool/$dsc" "$dsc" "SHA256:$sha" &&
      sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ \([0-9a-f]\{64\}\) [0-9]* \(.*\)$/\1 \2/p' "$dsc" |
      while read -r hash file; do
        # shellcheck disable=SC2046
        /usr/lib/apt/apt-helper $(apt_options) download-file "$pool/$file" "$file" "SHA256:$hash" || exit 1
      done &&
      dpkg-source -x "$dsc"
  )
}

windows_source() {
  package=$1 store=$2
  newest=""
  src=""
  missed=""
  listed=$(private_apt_cache showsrc --only-source "$package" 2>/dev/null |
    sed -n 's/^Version: //p' | sort -u -r -V)
  floor=$(echo "$release_sources" | awk -v p="$package" '$1 == p { print $2, $3 }')
  for version in $listed ${floor%% *}; do
    newest=${newest:-$version}
    folder=$store/${version#*:}
    if [ ! -f "$folder/.unpacked" ]; then
      rm -rf "$folder"
      mkdir -p "$folder"
      if echo "$listed" | grep -qxF "$version"; then
        (cd "$folder" && private_apt_get source -q "$package=$version" >fetch.log 2>&1)
      else
        fetch_from_pool "$package" "$version" "${floor#* }" "$folder" >"$folder/fetch.log" 2>&1
      fi && touch "$folder/.unpacked"
      if [ ! -f "$folder/.unpacked" ]; then
        why=$(sed -n 's/^E: //p' "$folder/fetch.log" | head -n 1)
        echo "warning: the source of $package $version ($debian_release) cannot be fetched" \
          "(${why:-see $folder/fetch.log}); trying an older version" >&2
        missed="${missed:+$missed }$version"
        continue
      fi
    fi
    src=$(find "$folder" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
    break
  done
  if [ -z "$src" ]; then
    echo "No source of $package could be fetched from $debian_release." >&2
    return 1
  fi
  if [ "$version" = "$newest" ]; then
    echo "$package: source $version of $debian_release, the newest it lists"
  else
    echo "warning: $package for Windows is built from the older source $version, not" \
      "$newest, the newest $debian_release lists (not fetchable: $missed)" >&2
  fi
}

windows_source_record() {
  echo "$1|$version|$newest|$missed" >>"$2"
}
