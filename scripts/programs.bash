# Sourced by scripts/install-deps and scripts/test (and its own test): the list of outside programs
# (scripts/programs) read the one way, and the programs run with root's rights.
#
#   programs_packages [LIST]   the packages of the listed programs, one a line, sorted
#   programs_missing [LIST]    says "missing PROGRAM (package PACKAGE)" for each listed program that
#                              is not where the script that runs it will look, and fails if any is
#   as_root COMMAND...         runs a command with root's rights and root's PATH

# Root's PATH, on which the programs marked "root" are found: Debian's for root, and sudo's
# secure_path, with the sbin folders that an ordinary user's PATH leaves out.
programs_root_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

# The entries of the list as "program package how", how being "path" or "root"; an entry with a
# way the list does not know fails, named.
programs_entries() {
  awk '!/^#/ && NF >= 2 {
    how = NF >= 3 ? $3 : "path"
    if (NF > 3 || (how != "path" && how != "root")) { print FILENAME ": cannot read the entry \"" $0 "\"" > "/dev/stderr"; bad = 1; next }
    print $1, $2, how
  } END { exit bad }' "${1:-scripts/programs}"
}

programs_packages() {
  local entries
  entries=$(programs_entries "$@") || return 1
  awk '{ print $2 }' <<<"$entries" | LC_ALL=C sort -u
}

programs_missing() {
  local entries program package how missing=0
  entries=$(programs_entries "$@") || return 1
  while read -r program package how; do
    if [ "$how" = root ]; then
      # Setting PATH also forgets where the shell found programs before.
      (PATH=$programs_root_path && command -v "$program" >/dev/null) && continue
      echo "missing $program (package $package, run with root's rights)"
    else
      command -v "$program" >/dev/null && continue
      echo "missing $program (package $package)"
    fi
    missing=1
  done <<<"$entries"
  return "$missing"
}

# The package tools are asked not to stop for questions: sudo passes no environment of the caller's.
as_root() {
  local command=(env PATH="$programs_root_path" DEBIAN_FRONTEND=noninteractive "$@")
  if [ "$(id -u)" -eq 0 ]; then
    "${command[@]}"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "${command[@]}"
  else
    echo "$(basename "$0"): root's rights are needed: run it as root, or install sudo (package sudo) and be allowed to use it" >&2
    return 1
  fi
}
