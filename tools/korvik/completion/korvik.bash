# bash completion for korvik. It works with or without the bash-completion
# package: the words are split here (so sim:RC1200 and name=value stay one
# word), and that package's helpers are used only when they are loaded.

# Boards: the simulated chips, then the interfaces whose USB strings or alias
# name the maker, read from sysfs without starting the program.
_korvik_boards()
{
    local chip dir desc
    for chip in RC1200 RC1300 RC1400 RC1100; do
        echo "sim:$chip"
    done
    echo "sim:replay:"
    for dir in /sys/class/net/*; do
        [[ -e $dir ]] || continue
        desc="$(cat "$dir/device/../manufacturer" "$dir/device/../product" "$dir/ifalias" 2>/dev/null)"
        [[ $desc == *"Zelvane Inc."* || $desc == *"Corvane AG"* ]] && echo "${dir##*/}"
    done
}

# COMPREPLY from newline-separated candidates matching $2; bash replaces only
# the part of the word after its last ':', so that part is what is offered.
_korvik_reply()
{
    local IFS=$'\n' cur=$2 word
    COMPREPLY=()
    for word in $1; do
        [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
    done
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        if declare -F __ltrim_colon_completions >/dev/null; then
            __ltrim_colon_completions "$cur"
        else
            local prefix=${cur%"${cur##*:}"} i
            for i in "${!COMPREPLY[@]}"; do
                COMPREPLY[i]=${COMPREPLY[i]#"$prefix"}
            done
        fi
    fi
}

# file names under the word $1
_korvik_files()
{
    if declare -F _filedir >/dev/null; then
        local cur=$1
        _filedir
    else
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$1"))
    fi
}

_korvik()
{
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    # backslashes escape blanks, as the shell will read the words
    read -a words <<<"$line"
    [[ -z $line || $line == *[[:space:]] ]] && words+=("")
    local cword=$((${#words[@]} - 1))
    local cur=${words[cword]} prev=""
    ((cword > 0)) && prev=${words[cword - 1]}
    local program=${words[0]}
    [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}

    local commands="list info get set params regs poke save load show defaults snippet diff watch send cw per capture link sweep"
    local globals="--json -v --verbose --virtual-air --version --help"

    # the command is the first word that is not an option; nargs counts the
    # arguments after it that are not options or their values
    local i cmd="" nargs=0 board=""
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
            --tx | --rx | --count | --interval | --seconds | --to | --target | --style | --csv | --length | \
                --seed | --path-loss | -o)
                ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $cmd ]]; then
                    cmd=${words[i]}
                else
                    [[ $nargs -eq 0 ]] && board=${words[i]}
                    ((nargs++))
                fi
                ;;
        esac
    done

    COMPREPLY=()
    if [[ -z $cmd ]]; then
        _korvik_reply "$(printf '%s\n' $commands $globals)" "$cur"
        return
    fi

    case $prev in
        --target) _korvik_reply $'rc800\nspi\nevalboard' "$cur"; return ;;
        --style) _korvik_reply $'straight\ntable\nburst' "$cur"; return ;;
        --tx | --rx) _korvik_reply "$(_korvik_boards)" "$cur"; return ;;
        --csv | -o) _korvik_files "$cur"; return ;;
        --count | --interval | --seconds | --to | --length | --seed | --path-loss) return ;;
    esac

    if [[ $cur == -* ]]; then
        local opts="--help --json -v --verbose --virtual-air"
        case $cmd in
            set) opts+=" --dry-run -o --save" ;;
            poke | load) opts+=" -o --save" ;;
            regs) opts+=" --bitfields --changed" ;;
            snippet) opts+=" --target --style" ;;
            watch) opts+=" --status --packets --seconds" ;;
            send) opts+=" --count --interval --to" ;;
            per) opts+=" --tx --rx --count --length --interval --csv --seed --path-loss" ;;
            capture) opts+=" --output --seconds --count" ;;
            link) opts+=" --data --path-loss --length" ;;
            sweep) opts+=" --tx --rx --power --path-loss --offset --bitrate --count --length --find-per --max-packets --fast --seed --csv" ;;
        esac
        _korvik_reply "$(printf '%s\n' $opts)" "$cur"
        return
    fi

    # the board comes first (diff and show take files, per its boards as options)
    if [[ $nargs -eq 0 && $cmd != list && $cmd != diff && $cmd != show && $cmd != per && $cmd != sweep ]]; then
        if [[ $cur == sim:*:* ]]; then
            # sim:CHIP:FILE
            local head=${cur%:*} files
            _korvik_files "${cur##*:}"
            ((${#COMPREPLY[@]})) || return
            files=$(printf "$head:%s\n" "${COMPREPLY[@]}")
            _korvik_reply "$files" "$cur"
        else
            _korvik_reply "$(_korvik_boards)" "$cur"
        fi
        return
    fi

    local values
    case $cmd in
        get | set)
            if [[ $cmd == set && $cur == *=* ]]; then
                # a choice's names after NAME=, as the board's chip offers them
                local IFS=$'\n' value want=${cur#*=} head=""
                # bash replaces what follows the '=' when '=' breaks words
                [[ $COMP_WORDBREAKS == *=* ]] || head=${cur%%=*}=
                values=$("$program" complete choices "${cur%%=*}" "$board" 2>/dev/null)
                COMPREPLY=()
                for value in $values; do
                    [[ ${value,,} == "${want,,}"* ]] && COMPREPLY+=("$head$(printf '%q' "$value")")
                done
                return
            fi
            values=$("$program" complete params "$board" 2>/dev/null)
            if [[ $cmd == set ]]; then
                compopt -o nospace 2>/dev/null
                values=$(printf '%s=\n' $values)
            fi
            _korvik_reply "$values" "$cur"
            ;;
        poke)
            [[ $cur == *=* ]] && return
            compopt -o nospace 2>/dev/null
            _korvik_reply "$("$program" complete registers "$board" 2>/dev/null | sed 's/$/=/')" "$cur"
            ;;
        defaults) _korvik_reply $'chip\nload\nstore' "$cur" ;;
        cw) _korvik_reply $'on\noff' "$cur" ;;
        save | load | diff | show) _korvik_files "$cur" ;;
    esac
}
complete -F _korvik korvik
