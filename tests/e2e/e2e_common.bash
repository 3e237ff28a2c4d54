# Shared by the end-to-end scripts (sourced, not run; no .sh name, so not a test itself):
# bounded polling and the quiet private Wine prefix.

# e2e_arguments BUILD [NATIVE] [PLATFORM]: the arguments every script gets, as build,
# native (the folder holding trelvo-sim and the other native tools), platform and sim.
e2e_arguments() {
    build=$(cd "$1" && pwd)
    native=$(cd "${2:-$1}" && pwd)
    platform=${3:-posix}
    sim=$native/trelvo-sim
}

# wait_until SECONDS COMMAND...: polls the command every 50 ms.
wait_until() {
    local limit=$(($1 * 20)) i=0
    shift
    until "$@"; do
        i=$((i + 1))
        [ "$i" -lt "$limit" ] || return 1
        sleep 0.05
    done
}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/windows-env.bash"

# use_wine_prefix PREFIX: Wine quiet and without Mono or Gecko in PREFIX, made when missing.
use_wine_prefix() {
    wine_env "$1"
}
