#!/usr/bin/env bash
# Pictures of the program's windows: runs every UI script under
# docs/screens/scripts/ (or the scripts named) on a fresh sample device with
# the product installed, draws each screen a script kept with its
# "screenshot NAME" step into docs/screens/NAME.png, runs the scripts marked
# "#! landscape" once more on a turned screen (NAME-landscape.png), and
# writes the gallery docs/screens.md. Needs a build (scripts/build.sh).
#
#   scripts/screens.sh [--scale N] [--keep] [SCRIPT.ui ...]
#
# A screen script is a UI script (docs/window-layer.md) with header lines:
#   # TITLE                      its first comment line: the gallery's caption
#   #! args COMMAND-LINE         the program's command line (default: none)
#   #! program DEVICE-PATH       the program to run (default: the main program)
#   #! cedev SUBCOMMAND ARGS...  a cedev command on the device before the run;
#                                the device folder goes after SUBCOMMAND:
#                                #! cedev reg set 'HKLM\SOFTWARE\...' Name dword 1
#   #! landscape                 also run it on a landscape screen
# Words are read as the shell reads them (quotes group). Scripts are the
# project's own: their header words are evaluated by the shell.
#
# Exit status: 0 when every script ran and kept at least one screen.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=${QUILMO_BIN:-$root/build/bin}
scripts_dir=docs/screens/scripts
out_dir=docs/screens
gallery=docs/screens.md
main_program='\Program Files\Quilmo Backup\Quilmo Backup.exe'
scale=2
keep=
scripts=()
while (($#)); do
  case $1 in
    --scale) scale=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "screens.sh: unknown option $1" >&2; exit 2 ;;
    *) scripts+=("$1"); shift ;;
  esac
done
if ((${#scripts[@]} == 0)); then
  shopt -s nullglob
  scripts=("$scripts_dir"/*.ui)
  shopt -u nullglob
fi
if ((${#scripts[@]} == 0)); then
  echo "screens.sh: no UI scripts in $scripts_dir" >&2
  exit 1
fi
[[ -x $bin/cedev ]] || { echo "screens.sh: $bin/cedev is not built (scripts/build.sh)" >&2; exit 1; }
cedev() { "$bin/cedev" "$@"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quilmo-screens.XXXXXX")
cleanup() { if [[ -n $keep ]]; then echo "kept $work"; else rm -rf "$work"; fi; }
trap cleanup EXIT
mkdir -p "$out_dir"

# One installed device, copied for every run.
template=$work/template
cedev create "$template" >/dev/null
cedev install "$template" >/dev/null

# header SCRIPT KEY: the values of the "#! KEY ..." lines, one per line.
header() { sed -n "s/^#![[:space:]]*$2\\([[:space:]]\\+\\(.*\\)\\)\\{0,1\\}\$/\\2/p" "$1"; }
title_of() { sed -n '/^#[^!]/{s/^#[[:space:]]*//p;q}' "$1"; }
# The names of a script's "screenshot NAME" steps, in the script's order.
shots_named() { sed -n 's/^[[:space:]]*screenshot[[:space:]]\+\([^[:space:]]\+\).*/\1/p' "$1"; }

failed=0
declare -A shots_of  # script -> the pictures it made, in order
# run_script SCRIPT ORIENTATION: one run; the pictures' names get the
# orientation's suffix ("" or "-landscape").
run_script() {
  local script=$1 suffix=$2 name dev line program args status=0
  name=$(basename "$script" .ui)
  dev=$work/$name$suffix
  rm -rf "$dev"
  cp -a "$template" "$dev"
  [[ -n $suffix ]] && cedev rotate "$dev" >/dev/null
  while IFS= read -r line; do
    [[ -z $line ]] && continue
    eval "set -- $line"
    local sub=$1
    shift
    cedev "$sub" "$dev" "$@" >/dev/null
  done < <(header "$script" cedev)
  program=$(header "$script" program | head -n 1)
  args=$(header "$script" args | head -n 1)
  local -a run=(cedev run --ui-script "$script" "$dev" "${program:-$main_program}")
  [[ -n $args ]] && run+=("$args")
  if ! "${run[@]}" >"$dev.out" 2>&1; then
    status=1
    echo "FAILED:  $script${suffix:+ (landscape)}: the run failed; its last lines:"
    tail -n 8 "$dev.out" | sed 's/^/    /'
  fi
  local kept=0 shot made=""
  # In the order of the script's steps: the gallery shows them so.
  for shot in $(shots_named "$script"); do
    [[ -f $dev/$shot.screen.xml ]] || continue
    if cedev screenshot "$dev" "$out_dir/$shot$suffix.png" --saved "$shot" --scale "$scale" >/dev/null; then
      shots_of[$script]+="$shot$suffix "
      made+=" $shot$suffix"
      kept=$((kept + 1))
    else
      status=1
      echo "FAILED:  $script: screen $shot could not be drawn"
    fi
  done
  if ((kept == 0)); then
    status=1
    echo "FAILED:  $script${suffix:+ (landscape)}: no screen kept (a 'screenshot NAME' step)"
  else
    echo "drew:    $script${suffix:+ (landscape)}:$made"
  fi
  return $status
}

for script in "${scripts[@]}"; do
  [[ -f $script ]] || { echo "FAILED:  $script: no such script"; failed=$((failed + 1)); continue; }
  run_script "$script" "" || failed=$((failed + 1))
  if grep -q '^#![[:space:]]*landscape[[:space:]]*$' "$script"; then
    run_script "$script" "-landscape" || failed=$((failed + 1))
  fi
done

# The gallery lists every script of the folder with the pictures it made
# in this run or an earlier one.
{
  echo "# Screens"
  echo
  echo "The program's windows as the window layer draws them offscreen (scale $scale), made by"
  echo "\`scripts/screens.sh\` from the UI scripts in \`$scripts_dir/\` (form: docs/window-layer.md)."
  for script in "$scripts_dir"/*.ui; do
    [[ -f $script ]] || continue
    echo
    echo "## $(title_of "$script") (\`$(basename "$script")\`)"
    echo
    # Each picture beside its landscape twin: those this run made, or for a
    # script not run this time those an earlier run left.
    made=" ${shots_of[$script]:-} "
    for shot in $(shots_named "$script"); do
      for suffix in "" "-landscape"; do
        if [[ $made != "  " ]]; then
          [[ $made == *" $shot$suffix "* ]] || continue
        else
          [[ -f $out_dir/$shot$suffix.png ]] || continue
        fi
        echo "![$shot$suffix](screens/$shot$suffix.png)"
      done
    done
  done
} >"$gallery"
echo "wrote $gallery"
if ((failed)); then
  echo "$failed run(s) failed"
  exit 1
fi
