# Sourced by scripts/test (and its own test). The programs of a test run (the tests, benchmarks,
# the sanitizer build and the fuzzers) are started through in_run, which keeps what they write
# apart from what the rest of the machine writes meanwhile, so the run is judged by its own writes
# alone:
#
# - The home. Each program runs in a mount namespace of its own in which the home of whoever runs
#   the tests, as $HOME and as the password database name it, is covered by an empty folder of the
#   run's, with the checkout, a compiler cache and the temporary folder back in their places where
#   they lie in the home. Whatever a program of the run writes into the home lands in the cover,
#   which is read at the end; programs outside the run still write the real home, and are not seen.
#   Where no namespace can be made (a container may forbid them), the home is listed before and
#   after instead, which also counts what others wrote there meanwhile, and the summary says so.
# - The temporary folder. TMPDIR names a folder of the run's own; whatever the run's programs left
#   in it fails the run, and is kept there for a look. Some programs write into /tmp whatever TMPDIR
#   says: the entries of /tmp that the user came to own during the run are named too, but do not
#   fail it, as other programs of the user's count among them.
#
#   isolation_start      before the first program of the run
#   in_run COMMAND...    runs a program of the run
#   isolation_finish     after the last: prints what the run wrote, sets isolation_summary (two
#                        lines for the summary) and fails when the run left anything

isolation_start() {
  local outside=${TMPDIR:-/tmp} path
  run_system_tmp_before=$(isolation_system_tmp_listing)
  run_tmp=$(mktemp -d "$outside/zorvel-run-XXXXXX") || return 1
  run_covers=() run_mounts=() run_made=() run_homes=() run_kept=() run_home_before=
  # The places in the home that the run writes on purpose: the checkout, a compiler cache and its
  # temporary folder.
  for path in "$PWD" "${CCACHE_DIR:-}" "$HOME/.ccache" "${XDG_CACHE_HOME:-$HOME/.cache}/ccache" "$run_tmp"; do
    [ -n "$path" ] && [ -d "$path" ] && run_kept+=("$(realpath "$path")")
  done
  run_cover_note=
  if isolation_cover "$outside"; then
    run_home_method=cover
    [ "${#run_homes[@]}" -gt 0 ] || run_cover_note=" (none to check: the home is the root folder or lies in the checkout)"
  else
    run_home_method=listing run_homes=() run_mounts=() run_made=()
    isolation_drop_covers
    run_home_before=$(mktemp "$outside/zorvel-home-listing-XXXXXX") || return 1
    isolation_home_listing >"$run_home_before"
  fi
}

# Runs a command as a program of the run.
in_run() {
  if [ "$run_home_method" = cover ]; then
    TMPDIR=$run_tmp unshare "${run_unshare[@]}" -- bash -c \
      'while [ "$1" != -- ]; do mount --rbind "$1" "$2" || exit 125; shift 2; done; shift; exec "$@"' \
      zorvel-run "${run_mounts[@]}" -- "${run_drop[@]}" "$@"
  else
    TMPDIR=$run_tmp "$@"
  fi
}

isolation_finish() {
  local home_changes left status=0
  if [ "$run_home_method" = cover ]; then
    home_changes=$(isolation_cover_contents)
  else
    home_changes=$(isolation_home_listing | LC_ALL=C comm -3 "$run_home_before" - |
      sed -E 's/^\t//; s/ [a-zA-Z] [0-9]+ [0-9.]+$//' | LC_ALL=C sort -u)
    rm -f "$run_home_before"
  fi
  if [ -n "$home_changes" ]; then
    head -n 40 <<<"$home_changes" | sed 's/^/changed in the home: /'
    local homes=("${run_homes[@]}")
    [ "${#homes[@]}" -gt 0 ] || homes=("$HOME")
    isolation_summary="home: $(wc -l <<<"$home_changes") paths of $(printf '%s and ' "${homes[@]}" | sed 's/ and $//')"
    isolation_summary+=" written by the run$run_cover_note"
    status=1
  else
    isolation_summary="home: unchanged$run_cover_note"
  fi
  isolation_drop_covers || status=1

  left=$(find "$run_tmp" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort)
  if [ -n "$left" ]; then
    head -n 40 <<<"$left" | sed "s|^|left in the temporary folder: |"
    isolation_summary+=$'\n'"temporary folder: $(wc -l <<<"$left") files and folders left by the run (kept in $run_tmp)"
    status=1
  else
    rmdir "$run_tmp"
    isolation_summary+=$'\n'"temporary folder: nothing left in the run's own"
  fi
  local news user more=
  user=$(id -un)
  news=$(isolation_system_tmp_news)
  if [ -n "$news" ]; then
    head -n 40 <<<"$news" | sed 's|^|new in /tmp: |'
    [ "$(wc -l <<<"$news")" -le 5 ] || more=" ..."
    isolation_summary+="; in /tmp, $(wc -l <<<"$news") new of $user's since the run began, the run's or"
    isolation_summary+=" another program's: $(head -n 5 <<<"$news" | tr '\n' ' ' | sed 's/ $//')$more"
  else
    isolation_summary+="; in /tmp, nothing new of $user's"
  fi
  return "$status"
}

# The entries of /tmp that the user owns, by number and name.
isolation_system_tmp_listing() {
  find /tmp -mindepth 1 -maxdepth 1 -user "$(id -u)" -printf '%i %f\n' 2>/dev/null | LC_ALL=C sort
}

# The names of what the user came to own in /tmp since the run began, besides the run's own folder.
isolation_system_tmp_news() {
  LC_ALL=C comm -13 <(printf '%s\n' "$run_system_tmp_before") <(isolation_system_tmp_listing) |
    cut -d' ' -f2- | grep -vxF -e "${run_tmp##*/}" -e ''
}

# The homes to cover: $HOME and the password database's, but not one that lies in a kept place (a
# checkout that holds the home), in another home, or that is the root folder.
isolation_homes() {
  local home kept
  for home in "$HOME" "$(getent passwd "$(id -u)" | cut -d: -f6)"; do
    [ -n "$home" ] && [ -d "$home" ] || continue
    home=$(realpath "$home")
    [ "$home" != / ] || continue
    for kept in "${run_kept[@]}"; do
      [[ "$home/" == "$kept/"* ]] && continue 2
    done
    echo "$home"
  done | LC_ALL=C sort -u | awk 'NR == 1 || index($0 "/", last "/") != 1 { print; last = $0 }'
}

# Makes a cover for each home, with a place in it for each kept place in that home, and checks
# that a program can run with them; false, with run_cover_note saying why, where it cannot.
isolation_cover() {
  local outside=$1 home cover kept inner made error way
  mapfile -t run_homes < <(isolation_homes)
  for home in "${run_homes[@]}"; do
    cover=$(mktemp -d "$outside/zorvel-home-XXXXXX") || return 1
    run_covers+=("$cover")
    for kept in "${run_kept[@]}"; do
      [[ "$kept" == "$home/"* ]] || continue
      inner=$cover/${kept#"$home"/}
      # A place inside another kept place comes with it.
      [ -e "$inner" ] && continue
      mkdir -p "$inner" || return 1
      made=$inner
      while [ "$made" != "$cover" ]; do run_made+=("$made"); made=${made%/*}; done
      run_mounts+=("$kept" "$inner")
    done
  done
  local i
  for i in "${!run_homes[@]}"; do run_mounts+=("${run_covers[$i]}" "${run_homes[$i]}"); done

  # Root mounts in a namespace of its own; anyone else, or root without the right to, as root of a
  # user namespace, and then runs the program as itself again.
  local -a ways=()
  [ "$(id -u)" -eq 0 ] && ways+=(plain)
  ways+=(user)
  for way in "${ways[@]}"; do
    if [ "$way" = plain ]; then
      run_unshare=(--mount --propagation private) run_drop=()
    else
      run_unshare=(--user --map-root-user --mount --propagation private)
      run_drop=(unshare --user --map-user="$(id -u)" --map-group="$(id -g)" --)
    fi
    run_home_method=cover
    if error=$(in_run true 2>&1); then return 0; fi
  done
  run_cover_note=" (compared listings before and after, which also count other programs' writes: no mount namespace here: ${error//$'\n'/ })"
  return 1
}

# What the run's programs wrote into the covers, as paths of the homes.
isolation_cover_contents() {
  local i cover
  for i in "${!run_covers[@]}"; do
    cover=${run_covers[$i]}
    find "$cover" -mindepth 1 -printf '%p\n' | LC_ALL=C sort | while IFS= read -r path; do
      isolation_made "$path" || echo "${run_homes[$i]}${path#"$cover"}"
    done
  done
}

isolation_made() {
  local made
  for made in "${run_made[@]}"; do [ "$1" = "$made" ] && return 0; done
  return 1
}

# Removes the covers. A place in one is a mount point only inside the run's namespaces; should one
# be mounted here, the cover is left, as removing it would remove the checkout too.
isolation_drop_covers() {
  local cover status=0
  for cover in "${run_covers[@]}"; do
    if awk -v cover="$cover/" 'index($5 "/", cover) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
      echo "not removing $cover: something is mounted in it"
      status=1
    else
      rm -rf "$cover"
    fi
  done
  run_covers=()
  return "$status"
}

# Every file and folder of the home with its kind, size and time of change, sorted, without the kept
# places.
isolation_home_listing() {
  local skip=() path
  for path in "${run_kept[@]}" "$run_home_before"; do [ -n "$path" ] && skip+=(-path "${path%/}" -prune -o); done
  find "$(realpath "$HOME")" "${skip[@]}" -printf '%p %y %s %T@\n' 2>/dev/null | LC_ALL=C sort
}
