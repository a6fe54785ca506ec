#!/usr/bin/env bash
# Calibrates the fault-injection loops: builds deliberately broken copies of
# stblc and checks that the loops catch each one. Run by hand; takes a few
# minutes.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

# name | file | text to break | broken text
breaks=(
  "ignores a failed write|src/driver/output_file.cc|if (n < 0) return fail(errno);|if (n < 0) return true;"
  "ignores a failed rename|src/driver/output_file.cc|if (rename(temp_path_.c_str(), target_.c_str()) != 0) return fail(errno);|rename(temp_path_.c_str(), target_.c_str());"
  "leaves the temporary file on a signal|src/driver/output_file.cc|if (const char* path = g_temp_path.load()) unlink(path);|(void)g_temp_path;"
  "has no out-of-memory handler|src/driver/run.cc|std::set_new_handler(out_of_memory);|(void)out_of_memory;"
)

status=0
for entry in "${breaks[@]}"; do
  IFS='|' read -r name file good bad <<<"$entry"
  work=$(mktemp -d /tmp/stblc-calibrate-XXXXXX)
  git ls-files -z | xargs -0 cp --parents -t "$work"
  python3 - "$work/$file" "$good" "$bad" <<'PY'
import sys
path, good, bad = sys.argv[1:]
text = open(path).read()
if good not in text:
    sys.exit("calibration: %r not found in %s" % (good, path))
open(path, "w").write(text.replace(good, bad))
PY
  cmake -S "$work" -B "$work/build" >/dev/null &&
    cmake --build "$work/build" -j2 --target stblc stbldump failing_alloc \
      >/dev/null || { echo "build failed: $name"; status=1; continue; }
  summary=$(python3 tests/faults/run_faults.py "$work/build/stblc" \
    --stbldump "$work/build/stbldump" \
    --shim "$work/build/tests/faults/libfailing_alloc.so" 2>&1 |
    grep -E -A3 " violations$|passed,")
  if grep -q ' 0 failed' <<<"$summary"; then
    echo "NOT CAUGHT: a build that $name"
    status=1
  else
    echo "caught: a build that $name"
  fi
  sed 's/^/    /' <<<"$summary"
  rm -rf "$work"
done
exit $status
