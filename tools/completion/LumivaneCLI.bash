# bash completion for LumivaneCLI: its options, the codes -c takes (asked of
# the program itself, so they match the build), and the files each option
# reads.

_lumivanecli_codecs() {
    local program=$1
    # A code listed under several containers is offered once.
    "$program" -c help 2>/dev/null | sed -n 's/^ *\* use "\([^"]*\)" for .*/\1/p' | awk '!seen[$0]++'
}

_lumivanecli() {
    local current=${COMP_WORDS[COMP_CWORD]}
    local previous=${COMP_WORDS[COMP_CWORD-1]}
    local program=${COMP_WORDS[0]}
    local IFS=$'\n'

    case $previous in
        -c)
            # Codes may hold blanks ("raw "), so each is offered quoted.
            local codes code
            codes=$(_lumivanecli_codecs "$program")
            COMPREPLY=()
            for code in $codes; do
                [[ $code == "${current#[\"\']}"* ]] && COMPREPLY+=("$(printf '%q' "$code")")
            done
            return
            ;;
        -o)
            COMPREPLY=($(compgen -f -- "$current"))
            return
            ;;
        -e)
            COMPREPLY=($(compgen -f -X '!*.@(QCRecording|qtz)' -- "$current") $(compgen -d -- "$current"))
            return
            ;;
        --frames)
            COMPREPLY=($(compgen -W count -- "$current"))
            return
            ;;
        --audio)
            COMPREPLY=($(compgen -f -- "$current"))
            return
            ;;
        --audio-codec)
            COMPREPLY=($(compgen -W "pcm aac" -- "$current"))
            return
            ;;
        -w | -h | -f | -q | -a | -m | -d | -s | -l | -p)
            COMPREPLY=()
            return
            ;;
    esac

    if [[ $current == -* ]]; then
        local options=(--version --help -o -w -h -c -f -q -a -m -d -s -l -p -e --frames --audio --audio-codec -v -vv -vvv)
        COMPREPLY=($(compgen -W "${options[*]}" -- "$current"))
        return
    fi
    COMPREPLY=($(compgen -f -X '!*.@(qtz|fs)' -- "$current") $(compgen -d -- "$current"))
}

shopt -s extglob
complete -o filenames -F _lumivanecli LumivaneCLI
