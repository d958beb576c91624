#!/usr/bin/env bash
# Builds and runs the benchmarks; prints one table: each figure with its goal,
# whether it is met, and its time as a multiple of reading the file's bytes
# (cat). Synthetic surveys are made once into build/bench-data (about 2.5 GB).
#   scripts/bench.sh [--quick]    (--quick: skips the 7-million-row folder and the large grid)
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = --quick ] && quick=1
scripts/setup.sh bench
scripts/build.sh bench >/dev/null
B=build/bench
D=build/bench-data
mkdir -p "$D"
export QT_QPA_PLATFORM=offscreen

make_run() { [ -f "$D/$1.csv" ] || $B/qgrad-gen "$D/$1.csv" --rows "$2" --seed 7; }
make_run run100k 100000
make_run run1m 1000000
# A survey of very short rows (one channel, whole readings, about 32 bytes a
# line, 60 MB): its memory is held to the file's size, not to the rows' count.
if [ ! -f "$D/shortrows.csv" ]; then
  $B/qgrad-gen "$D/long.tmp" --rows 1850000 --seed 7
  awk -F';' 'NR <= 4 { print; next } { printf "%s;%s;%s;;%d;%d\n", $1, $2, $3, $5, $6 }' "$D/long.tmp" > "$D/shortrows.csv"
  rm "$D/long.tmp"
fi
if [ $quick = 0 ] && [ ! -f "$D/folder7m/run028.csv" ]; then
  $B/qgrad-gen --folder "$D/folder7m" --files 28 --rows 250000 --seed 21
fi
# A campaign as a crew walks it: serpentine blocks with turns, overlaps, gaps,
# spikes, sensor levels and a 0.15 s lag.
if [ $quick = 0 ] && [ ! -f "$D/campaign7m/run028.csv" ]; then
  $B/qgrad-gen --campaign "$D/campaign7m" --files 28 --rows 250000 --seed 21
fi

mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1e6 }'; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
# One line of the table: what, rows, file MB, median s, peak MB, goal, verdict,
# and the time as a multiple of reading the file's bytes.
row() { printf "%-44s %9s %8s %9s %8s  %-18s %-12s %s\n" "$@"; }
# "met", or by how much VALUE is over LIMIT.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { if (v < l) print "met"; else printf "missed +%.0f%%\n", 100 * (v - l) / l }'; }
ratio() { awk -v s="$1" -v c="$2" 'BEGIN { printf "%.1f x\n", s / c }'; }
# Seconds and peak MB of a whole command, median of 3.
timed() {
  local out times=() peaks=() log
  log=$(mktemp)
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1
    out=$(tail -1 "$log")
    times+=("${out% *}"); peaks+=("${out#* }")
  done
  rm -f "$log"
  echo "$(printf '%s\n' "${times[@]}" | median) $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1 | awk '{ printf "%.0f", $1 / 1024 }')"
}

# Seconds of a short command to the millisecond, median of 5 (no peak).
fine_timed() {
  for _ in 1 2 3 4 5; do
    local start end
    start=$(date +%s%N); "$@" >/dev/null 2>&1; end=$(date +%s%N)
    echo $(( end - start ))
  done | median | awk '{ printf "%.3f", $1 / 1e9 }'
}

row measure rows "file MB" "median s" "peak MB" goal verdict "x cat"
for f in run100k:100000 run1m:1000000; do
  name=${f%%:*}; rows=${f#*:}; file="$D/$name.csv"; size=$(mb "$file")
  cat_s=$(fine_timed cat "$file")
  row "cat (the file's bytes)" "$rows" "$size" "$cat_s" "-" "" "" "1.0 x"
  # Stages: seconds, CPU seconds of all threads, peak MB.
  while IFS=$'\t' read -r stage r m s cpu p; do
    row "stage: $stage (CPU $cpu s)" "$r" "$m" "$s" "$p" "" "" "$(ratio "$s" "$cat_s")"
  done < <($B/qgrad-bench-stages "$file" --repeat 3 2>/dev/null)
  while IFS=$'\t' read -r stage s p; do
    goal="" met=""
    if [ "$stage" = "open (table, chart, map)" ]; then
      open_s=$s
      if [ "$name" = run1m ]; then
        goal="< 0.8 s, < 700 MB"; met="$(verdict "$s" 0.8), $(verdict "$p" 700)"
      else
        goal="< 0.08 s"; met=$(verdict "$s" 0.08)
      fi
    fi
    row "window: $stage" "$rows" "$size" "$s" "$p" "$goal" "$met" "$(ratio "$s" "$cat_s")"
  done < <($B/qgrad-bench-window "$file" --repeat 3 2>/dev/null)
  # Every processing stage on: despike, destripe by median, lag estimated.
  read -r _ s p < <($B/qgrad-bench-window "$file" --repeat 3 --processing 2>/dev/null | head -1 | tr '\t' ' ' | sed 's/^open (table, chart, map)/open/')
  limit=$(awk -v o="$open_s" 'BEGIN { printf "%.3f", 1.15 * o }')
  row "window: open, all processing on" "$rows" "$size" "$s" "$p" "< 1.15 x plain" "$(verdict "$s" "$limit")" "$(ratio "$s" "$cat_s")"
  read -r gzip_s _ < <(timed gzip -1 -c "$file")
  row "gzip -1 (the file compressed)" "$rows" "$size" "$gzip_s" "-" "" "" "$(ratio "$gzip_s" "$cat_s")"
  read -r s p < <(timed build/src/cli/qgrad arrange "$file")
  plain_s=$s
  goal="" met=""
  if [ "$name" = run1m ]; then
    goal="< 1.3 x gzip, < 2.5 x file"
    met="$(verdict "$s" "$(awk -v g="$gzip_s" 'BEGIN { print 1.3 * g }')"), $(verdict "$p" "$(awk -v m="$size" 'BEGIN { print 2.5 * m }')")"
  fi
  row "qgrad arrange (end to end)" "$rows" "$size" "$s" "$p" "$goal" "$met" "$(ratio "$s" "$cat_s")"
  read -r s p < <(timed build/src/cli/qgrad arrange "$file" --despike --destripe --lag=auto)
  row "qgrad arrange, all processing on" "$rows" "$size" "$s" "$p" "< 1.15 x plain" \
    "$(verdict "$s" "$(awk -v o="$plain_s" 'BEGIN { print 1.15 * o }')")" "$(ratio "$s" "$cat_s")"
done
file="$D/shortrows.csv"; size=$(mb "$file")
read -r s p < <(timed build/src/cli/qgrad arrange "$file")
row "qgrad arrange, 32-byte rows" "$(($(wc -l < "$file") - 4))" "$size" "$s" "$p" "< 4 x file + 100 MB" \
  "$(verdict "$p" "$(awk -v m="$size" 'BEGIN { print 4 * m + 100 }')")" "-"
if [ $quick = 0 ]; then
  size=$(du -cm "$D"/folder7m/*.csv | tail -1 | cut -f1)
  cat_s=$(fine_timed sh -c "cat $D/folder7m/*.csv")
  row "cat (the folder's bytes)" 7000000 "$size" "$cat_s" "-" "" "" "1.0 x"
  read -r s p < <(timed build/src/cli/qgrad arrange-folder "$D/folder7m" bench)
  row "qgrad arrange-folder (28 runs)" 7000000 "$size" "$s" "$p" "< 12 s" "$(verdict "$s" 12)" "$(ratio "$s" "$cat_s")"
  size=$(du -cm "$D"/campaign7m/*.csv | tail -1 | cut -f1)
  cat_s=$(fine_timed sh -c "cat $D/campaign7m/*.csv")
  read -r s plain_p < <(timed build/src/cli/qgrad arrange-folder "$D/campaign7m" plain)
  row "campaign: arrange-folder plain" 7000000 "$size" "$s" "$plain_p" "< 10 s" "$(verdict "$s" 10)" "$(ratio "$s" "$cat_s")"
  read -r s p < <(timed build/src/cli/qgrad arrange-folder "$D/campaign7m" processed --despike --destripe --lag=auto)
  row "campaign: arrange-folder, all processing" 7000000 "$size" "$s" "$p" "< 2 x plain's MB" \
    "$(verdict "$p" $((2 * plain_p)))" "$(ratio "$s" "$cat_s")"
  # The one command a surveyor runs: processing, a 0.25 m grid in the UTM
  # zone, and every GIS output.
  read -r s p < <(timed build/src/cli/qgrad arrange-folder "$D/campaign7m" onecommand --despike --destripe --lag=auto \
      --grid --no-view --cell 0.25 --gis)
  row "campaign: one command, --cell 0.25 --gis" 7000000 "$size" "$s" "$p" "< 60 s, < 3000 MB" \
    "$(verdict "$s" 60), $(verdict "$p" 3000)" "$(ratio "$s" "$cat_s")"
fi

# Gridding: our kriging beside GDAL's inverse distance to nearest neighbours,
# searching within 5 m (GDAL's default radius of 1 unit is 1 degree here,
# which makes it visit every point for every node).
G="$D/grid"       # the gridding's own files, beside the two runs' folder
mkdir -p "$G"
[ -f "$D/grid-runs/run002.csv" ] || $B/qgrad-gen --folder "$D/grid-runs" --files 2 --rows 8400 --seed 5 >/dev/null
build/src/cli/qgrad arrange-folder "$D/grid-runs" points >/dev/null
cp "$D/grid-runs/GPS_DIFF_points.txt" "$D/grid-runs/GPS_DIFF_points.bas" "$G/"
pts="$G/GPS_DIFF_points.txt"
n=$(($(wc -l < "$pts") - 1))
awk -F';' 'NR == 1 { print "x,y,z"; next } { print $1 "," $2 "," $3 }' "$pts" > "$G/points.csv"
cat > "$G/points.vrt" <<VRT
<OGRVRTDataSource><OGRVRTLayer name="points"><SrcDataSource>$PWD/$G/points.csv</SrcDataSource>
<GeometryType>wkbPoint</GeometryType><GeometryField encoding="PointFromColumns" x="x" y="y" z="z"/></OGRVRTLayer></OGRVRTDataSource>
VRT
extent=$(awk -F, 'NR > 1 { if (NR == 2 || $1 < a) a = $1; if (NR == 2 || $1 > b) b = $1; if (NR == 2 || $2 < c) c = $2; if (NR == 2 || $2 > d) d = $2 } END { printf "%.10f %.10f %.10f %.10f", a, b, c, d }' "$G/points.csv")
set -- $extent
sizes="200"
[ $quick = 0 ] && sizes="200 1000"
for s in $sizes; do
  sed -E "s/NumCols:=[0-9]+, NumRows:=[0-9]+/NumCols:=$s, NumRows:=$s/; s#grid-runs/#grid/#g; s#GPS_DIFF_points.grd#grid$s.grd#g" \
    "$G/GPS_DIFF_points.bas" > "$G/grid$s.bas"
  read -r ours p < <(timed build/src/cli/qgrad grid "$G/grid$s.bas" --no-view)
  read -r theirs q < <(timed gdal_grid -q -a invdistnn:power=2:max_points=16:radius=0.000045 -txe "$1" "$2" -tye "$3" "$4" \
      -outsize "$s" "$s" -of GTiff -ot Float64 "$G/points.vrt" "$G/idw$s.tif")
  limit=$([ "$s" = 200 ] && echo 0.3 || echo 4)
  row "qgrad grid $s x $s (kriging)" "$n" "-" "$ours" "$p" "< $limit s" "$(verdict "$ours" "$limit")" "-"
  row "gdal_grid $s x $s (invdistnn, 5 m)" "$n" "-" "$theirs" "$q" "" "" "-"
  awk -v a="$ours" -v b="$theirs" -v s="$s" 'BEGIN { printf "  kriging takes %.2f x the time of gdal_grid at %d x %d\n", a / b, s, s }'
done

# The kriging alone on the same points, without reading, map and files:
# seconds and CPU seconds of both threads; a grid of the host's largest
# square size (7071 x 7071, just under 50,000,000 nodes) once.
# A third argument krige in tiles of that many nodes a side, to the same values.
kriging_row() {
  IFS=$'\t' read -r _ _ s cpu p < <($B/qgrad-bench-kriging "$pts" --cols "$1" --rows "$1" --repeat "$2" ${3:+--tile "$3"})
  local goal="" met=""
  case $1 in
    200) goal="< 0.3 s"; met=$(verdict "$s" 0.3) ;;
    1000) goal="< 3 s"; met=$(verdict "$s" 3) ;;
    *) goal="measured" ;;
  esac
  row "kriging alone $1 x $1${3:+ in tiles of $3} (CPU ${cpu} s)" "$n" "-" "$s" "$p" "$goal" "$met" "-"
}
for s in $sizes; do kriging_row "$s" 3; done
kriging_row 1000 1 256
[ $quick = 0 ] && kriging_row 7071 1

# The GIS outputs of a gridding run: a 1000 x 1000 grid and 200,000 points.
while IFS=$'\t' read -r output nodes points s p; do row "GIS: $output" "$points" "-" "$s" "$p" "" "" "-"; done \
  < <($B/qgrad-bench-gis --cols 1000 --rows 1000 --points 200000 --repeat 3 2>/dev/null)
