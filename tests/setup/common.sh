# Sourced by the setup tests: the tally of named checks and the checks
# themselves, the game as Wine lays it out in a prefix, the stair archives
# the tests serve, and a PATH without some of the desktop's programs.

passed=0
failed=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}
same() { [ "$1" = "$2" ] || { printf 'expected: %s\n     got: %s\n' "$2" "$1" >&2; false; }; }
holds() { grep -qF -- "$2" "$1" || { echo "$1 lacks: $2" >&2; sed 's/^/  | /' "$1" >&2; false; }; }
lacks() { ! grep -qF -- "$2" "$1" || { echo "$1 has: $2" >&2; sed 's/^/  | /' "$1" >&2; false; }; }
# The tally, last: the test fails when any check did.
tally() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# A prefix holding the game (as Wine lays one out) at $1, owned by the user
# id $2 when one is given.
make_prefix() {
  local prefix=$1 game
  mkdir -p "$prefix/drive_c/users/player/Documents/EA Games/The Sims 2/Downloads" "$prefix/dosdevices"
  ln -sfn ../drive_c "$prefix/dosdevices/c:"
  game="$prefix/drive_c/Program Files/EA GAMES/The Sims 2"
  mkdir -p "$game/TSData/Res/Catalog/Scripts"
  printf '# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n' \
    >"$game/TSData/Res/Catalog/Scripts/modularstairs.txt"
  printf '%s\n' 'WINE REGISTRY Version 2' ';; All keys relative to \\Machine' '' '#arch=win32' '' \
    '[Software\\EA GAMES\\The Sims 2] 1700000000' \
    '"Install Dir"="C:\\Program Files\\EA GAMES\\The Sims 2\\"' >"$prefix/system.reg"
  printf '%s\n' 'WINE REGISTRY Version 2' ';; All keys relative to \\User\\S-1-5-21-0-0-0-1000' '' \
    '#arch=win32' '' '[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders] 1700000000' \
    '"Personal"="C:\\users\\player\\Documents"' >"$prefix/user.reg"
  [ -z "${2:-}" ] || chown -R "$2:$2" "$prefix"
}
downloads() { echo "$1/drive_c/users/player/Documents/EA Games/The Sims 2/Downloads"; }
catalog() { echo "$1/drive_c/Program Files/EA GAMES/The Sims 2/TSData/Res/Catalog/Scripts/modularstairs.txt"; }

# Stair archives in the folder $1: NAME.zip for each further argument,
# holding Name.package and a read-me.
make_archives() {
  local folder=$1
  shift
  python3 - "$folder" "$@" <<'PYTHON'
import sys, zipfile
for name in sys.argv[2:]:
    with zipfile.ZipFile("%s/%s.zip" % (sys.argv[1], name), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("Stairs/%s.package" % name.capitalize(), "DBPF package " + "p" * 4096)
        z.writestr("Stairs/ReadMe.txt", "# %s stairs\r\nmodularStairs 42\r\nobjectID 7001\r\n" % name)
PYTHON
}

# Makes PATH the folder $1 of links to every program on the PATH but the
# ones named after it: the desktop a test means to meet lacks them.
path_without() {
  local into=$1 folder program name folders
  shift
  mkdir -p "$into"
  IFS=: read -ra folders <<<"$PATH"
  for folder in "${folders[@]}"; do
    for program in "$folder"/*; do
      name=${program##*/}
      [[ " $* " == *" $name "* ]] && continue
      [ -e "$into/$name" ] || ln -s "$program" "$into/$name"
    done
  done
  export PATH=$into
}
