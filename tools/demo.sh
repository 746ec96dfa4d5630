#!/bin/sh
# make demo: writes the sample charts, shows what each one covers, and cuts
# a pixel window and a world window of each into BUILD/demo/.
#   sh tools/demo.sh BUILD
set -eu

build=${1:-build}
command="$build/tools/bsbchart/bsbchart"
generator="$build/tools/samples/bsbchart-samples"
for program in "$command" "$generator"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; build first (make build)" >&2
    exit 1
  fi
done

samples="$build/samples"
demo="$build/demo"
mkdir -p "$samples" "$demo"
"$generator" "$samples" >/dev/null

# The harbour and the compass rose in chart pixels, and the harbour entrance
# in longitude and latitude: on the skewed charts the world window comes back
# upright.
pixels=40,180,599,539
world=-4.170,50.3658,-4.139,50.3499
world_name=world-4.17W-50.3658N-4.139W-50.3499N

for chart in harbour-4 harbour-7 harbour-skew-4 harbour-skew-7; do
  echo "== $chart.kap"
  "$command" info "$samples/$chart.kap"
  "$command" window "$samples/$chart.kap" --pixels "$pixels" \
    -o "$demo/$chart.px-$(echo "$pixels" | tr , -).bmp"
  "$command" window "$samples/$chart.kap" --world "$world" -o "$demo/$chart.$world_name.bmp"
  echo
done
if "$command" serve --help >/dev/null 2>&1; then
  echo "To look at the charts in a browser: $command serve $samples/*.kap"
fi
echo "Charts in $samples/, windows in $demo/"
