#!/usr/bin/env bash
# The renderer in the shell: its manual page renders with every option of the
# help text, and bash completion offers what the program itself lists.
#
#   check_shell.sh manpage <LumivaneCLI> <LumivaneCLI.1>
#   check_shell.sh completion <LumivaneCLI> <completion script>
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

check_manpage() {
    local program=$1 page=$2 text option
    text=$(MANWIDTH=100 man -l "$page" 2>&1) || fail "man -l could not render $page: $text"
    for section in NAME SYNOPSIS OPTIONS CODECS "EXIT STATUS" SIGNALS FILES EXAMPLES; do
        grep -q "^$section" <<<"$text" || fail "no $section section"
    done
    # Every option of the help text appears in the page.
    for option in $("$program" --help | sed -n 's/^ *\* \(-[-a-z]*\).*/\1/p'); do
        grep -qe "^ *$option\b" <<<"$text" || fail "option $option missing from the page"
    done
    grep -q '"avc1"\|avc1' <<<"$text" || fail "codec list missing"
}

complete_line() {
    # Completion offered for the words given, the last one being completed.
    local script=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    # shellcheck source=/dev/null
    source "$script"
    _lumivanecli
    printf '%s\n' "${COMPREPLY[@]}"
}

check_completion() {
    local program=$1 script=$2 offered
    offered=$(complete_line "$script" "$program" -c "")
    grep -qx 'avc1' <<<"$offered" || fail "-c does not offer avc1: $offered"
    grep -qx 'raw\\ ' <<<"$offered" || fail "-c does not offer 'raw ' quoted: $offered"
    offered=$(complete_line "$script" "$program" -c ap)
    grep -qvx 'avc1' <<<"$offered" || fail "-c ap offers avc1"
    offered=$(complete_line "$script" "$program" --he)
    [ "$offered" = "--help" ] || fail "--he completes to '$offered'"
    offered=$(complete_line "$script" "$program" --fr)
    [ "$offered" = "--frames" ] || fail "--fr completes to '$offered'"
    offered=$(complete_line "$script" "$program" --frames "")
    [ "$offered" = "count" ] || fail "--frames offers '$offered'"
}

case ${1:-} in
    manpage) check_manpage "$2" "$3" ;;
    completion) check_completion "$2" "$3" ;;
    *) fail "usage: $0 manpage|completion <LumivaneCLI> <file>" ;;
esac
echo "ok"
