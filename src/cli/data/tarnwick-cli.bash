# bash completion for tarnwick-cli
#
# The option names come from the tool's own --help at completion time, so
# the completion knows every option the installed tool has.  The word after
# an option is completed by what its help line calls it: FILE and PATH as
# files, DIR as folders, FORMAT as the output formats; anything else (a
# number, a text) is left to the user.

_tarnwick_cli_help() {
    local tool=$1
    # A command typed as ~/bin/tarnwick-cli or ./build/tarnwick-cli is run
    # as typed; the tilde is expanded by hand, nothing else is evaluated.
    [[ $tool == "~/"* ]] && tool=$HOME/${tool#"~/"}
    if [[ $tool != */* ]] || [[ ! -x $tool ]]; then
        tool=$(type -P -- "$tool" 2>/dev/null || type -P tarnwick-cli 2>/dev/null)
    fi
    [[ -n $tool ]] && LC_ALL=C "$tool" --help 2>/dev/null
}

# Prints "OPTION ARGUMENT" per option of the help text (ARGUMENT empty for an
# option without one), from the lines that begin with spaces and a dash.
_tarnwick_cli_options() {
    local line word arg
    while IFS= read -r line; do
        [[ $line =~ ^[[:space:]]+- ]] || continue
        # "  -r, --recursive        text" or "      --format FORMAT    text":
        # the option part ends at the first run of two spaces.
        line=${line#"${line%%[![:space:]]*}"}
        line=${line%%"  "*}
        arg=
        [[ $line =~ [[:space:]=]([A-Z][A-Z_]*)$ ]] && arg=${BASH_REMATCH[1]}
        line=${line//,/ }
        for word in $line; do
            word=${word%%=*}
            [[ $word =~ ^--?[[:alnum:]][[:alnum:]-]*$ ]] && printf '%s %s\n' "$word" "$arg"
        done
    done
}

_tarnwick_cli_paths() {
    local cur=$1 kind=$2
    if declare -F _filedir >/dev/null; then
        if [[ $kind == dir ]]; then _filedir -d; else _filedir; fi
        return
    fi
    local IFS=$'\n'
    if [[ $kind == dir ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    compopt -o filenames 2>/dev/null
}

_tarnwick_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local -a names=()
    local -A takes=()
    local name arg
    while read -r name arg; do
        names+=("$name")
        takes[$name]=$arg
    done < <(_tarnwick_cli_help "${COMP_WORDS[0]}" | _tarnwick_cli_options)

    # The word after an option that takes one.
    if [[ -n $prev && -n ${takes[$prev]-} ]]; then
        case ${takes[$prev]} in
            FORMAT) COMPREPLY=($(compgen -W "tsv csv json" -- "$cur")) ;;
            FILE | PATH) _tarnwick_cli_paths "$cur" file ;;
            DIR | FOLDER) _tarnwick_cli_paths "$cur" dir ;;
        esac
        return 0
    fi

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${names[*]}" -- "$cur"))
        return 0
    fi
    # Anything else is a file or folder to search.
    _tarnwick_cli_paths "$cur" file
    return 0
}

complete -F _tarnwick_cli tarnwick-cli
