# Sourced by the set-up, demo and test scripts: a long-winded step in one line.
# instkit_step WHAT LOG COMMAND...: runs COMMAND with its output added to LOG and says in one line
# what it did, how long it took and where its output is; when COMMAND fails, it shows LOG whole and
# returns COMMAND's exit code.
instkit_step() {
  local what=$1 log=$2 started=$SECONDS status=0
  shift 2
  mkdir -p "$(dirname "$log")"
  printf '%s... ' "$what"
  "$@" >>"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "failed (exit code $status); $log holds:"
    cat "$log"
    return "$status"
  fi
  echo "done in $((SECONDS - started)) s; log: $log"
}
