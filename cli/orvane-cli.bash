# bash completion for orvane-cli: commands, options, port names and the
# files each command takes. Needs nothing but bash itself.

_orvane_cli_files() {
    # $1: a pattern for extglob-free matching such as '*.[mM][tT][sS]', or ''.
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    if [[ -n $1 ]]; then
        COMPREPLY+=($(compgen -f -X "!$1" -- "$cur") $(compgen -d -- "$cur"))
    else
        COMPREPLY+=($(compgen -f -- "$cur"))
    fi
}

_orvane_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="ports status put delete erase flash verify constants provision history"
    local global="--port --json --quiet --yes --trace --db --help --version"
    local constants="--id --tz --summer --local --global --serial --serial-from --from"
    COMPREPLY=()

    case $prev in
        --port)
            local ports="all" n
            for ((n = 1; n <= 16; n++)); do ports+=" COM$n"; done
            COMPREPLY=($(compgen -W "$ports" -- "$cur"))
            [[ $cur == /* ]] && _orvane_cli_files ''
            return
            ;;
        --trace | --db) _orvane_cli_files ''; return ;;
        --from) _orvane_cli_files '*.[jJ][sS][oO][nN]'; return ;;
        --summer) COMPREPLY=($(compgen -W "0 1" -- "$cur")); return ;;
        --result) COMPREPLY=($(compgen -W "running done failed interrupted" -- "$cur")); return ;;
        --id | --tz | --local | --global | --serial | --serial-from | --since | --until | --station | --position) return ;;
    esac

    local i command=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --port | --trace | --db | --from | --id | --tz | --summer | --local | --global | --serial | --serial-from | \
                --since | --until | --station | --position | --result)
                ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$global" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    if [[ $cur == -* ]]; then
        case $command in
            ports) COMPREPLY=($(compgen -W "$global -v --verbose" -- "$cur")) ;;
            constants) COMPREPLY=($(compgen -W "$global $constants" -- "$cur")) ;;
            flash | verify) COMPREPLY=($(compgen -W "$global --force" -- "$cur")) ;;
            provision) COMPREPLY=($(compgen -W "$global --watch --bench --new-records --force" -- "$cur")) ;;
            history) COMPREPLY=($(compgen -W "$global --serial --since --until --station --position --result --csv" -- "$cur")) ;;
            *) COMPREPLY=($(compgen -W "$global" -- "$cur")) ;;
        esac
        return
    fi
    case $command in
        put) _orvane_cli_files '' ;;
        flash | verify) _orvane_cli_files '*.[mM][tT][sS]' ;;
        provision) _orvane_cli_files '*.[tT][oO][mM][lL]' ;;
    esac
}

complete -F _orvane_cli orvane-cli
