# bash completion for korvik
_korvik()
{
    local cur prev words cword
    _init_completion || return

    local commands="list info get set params regs poke save load defaults snippet diff watch send cw per capture"
    local globals="--json -v --verbose --virtual-air --version --help"

    # the command is the first word that is not a global option
    local i cmd="" nargs=0
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
            -*) ;;
            *) if [[ -z $cmd ]]; then cmd=${words[i]}; else ((nargs++)); fi ;;
        esac
    done

    if [[ -z $cmd ]]; then
        COMPREPLY=($(compgen -W "$commands $globals" -- "$cur"))
        return
    fi

    case $prev in
        --target) COMPREPLY=($(compgen -W "rc800 spi evalboard" -- "$cur")); return ;;
        --style) COMPREPLY=($(compgen -W "straight table burst" -- "$cur")); return ;;
        --count|--interval|--seconds|--to) return ;;
    esac

    if [[ $cur == -* ]]; then
        local opts="--help --json -v"
        case $cmd in
            set) opts+=" --dry-run" ;;
            regs) opts+=" --bitfields --changed" ;;
            snippet) opts+=" --target --style" ;;
            watch) opts+=" --status --packets --seconds" ;;
            send) opts+=" --count --interval --to" ;;
            per) opts+=" --tx --rx --count --length --interval --csv" ;;
            capture) opts+=" --output --seconds --count" ;;
        esac
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
        return
    fi

    # the board comes first (diff takes two files instead)
    if [[ $nargs -eq 0 && $cmd != list && $cmd != diff ]]; then
        if [[ $cur == sim:*:* ]]; then
            # sim:CHIP:FILE
            local head=${cur%:*}
            local files
            files=$(compgen -f -- "${cur##*:}")
            COMPREPLY=($(for f in $files; do echo "$head:$f"; done))
        else
            COMPREPLY=($(compgen -W "sim:RC1200 sim:RC1300 sim:RC1400 sim:RC1100 sim:replay:" -- "$cur"))
        fi
        __ltrim_colon_completions "$cur"
        return
    fi

    case $cmd in
        get|set)
            local names
            names=$(korvik params 2>/dev/null | awk '{ print $1 }')
            if [[ $cmd == set ]]; then
                compopt -o nospace
                COMPREPLY=($(compgen -W "$names" -S = -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$names" -- "$cur"))
            fi
            ;;
        defaults) COMPREPLY=($(compgen -W "chip load store" -- "$cur")) ;;
        cw) COMPREPLY=($(compgen -W "on off" -- "$cur")) ;;
        save|load|diff) _filedir ;;
    esac
}
complete -F _korvik korvik
