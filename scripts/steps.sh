# Sourced by scripts/test.sh and .ci/run: runs a list of steps, each even when
# one before it failed, so that one failure does not hide another, and ends
# with every step's outcome and duration.
#
#   step NAME COMMAND [ARG...]    runs COMMAND (stdin from /dev/null), notes
#                                 its outcome; returns COMMAND's status
#   skip_step NAME REASON         notes a step that could not run
#   steps_summary                 prints the table; fails when a step failed
#
# A COMMAND that is a shell function runs with errexit off (it is called in
# a condition), so such a function chains its commands with &&.

step_names=()
step_outcomes=()
step_durations=()
steps_passed=0
steps_failed=0

step() {
    local name=$1 started=$SECONDS status=0
    shift
    echo
    echo "=== $name: $*"
    "$@" </dev/null || status=$?
    local took=$((SECONDS - started))
    step_names+=("$name")
    step_durations+=("$(printf '%dm%02ds' $((took / 60)) $((took % 60)))")
    if [ "$status" -eq 0 ]; then
        step_outcomes+=(passed)
        steps_passed=$((steps_passed + 1))
    else
        step_outcomes+=("failed (exit $status)")
        steps_failed=$((steps_failed + 1))
    fi
    echo "=== $name: ${step_outcomes[-1]} after ${step_durations[-1]}"
    return "$status"
}

skip_step() {
    step_names+=("$1")
    step_outcomes+=("skipped: $2")
    step_durations+=(-)
    echo
    echo "=== $1: skipped: $2"
}

steps_summary() {
    local i
    echo
    echo "=== Summary"
    for i in "${!step_names[@]}"; do
        printf '%-30s %-8s %s\n' "${step_names[$i]}" "${step_durations[$i]}" "${step_outcomes[$i]}"
    done
    echo "Steps: $steps_passed passed, $steps_failed failed, $((${#step_names[@]} - steps_passed - steps_failed)) skipped"
    [ "$steps_failed" -eq 0 ]
}
